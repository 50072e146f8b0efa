#include "app/win/job_operations.h"

#include "jobs/win/worker_job.h"
#include "net/win/connection_list.h"
#include "report/win/process_tree.h"
#include "report/win/report_loader_win.h"
#include "report/win/report_writer.h"

void InstallJobOperations() {
    JobOperation* operations = JobOperationTable();
    operations[BuildProcessTree] = BuildProcessTreeJob;
    operations[WriteReport] = WriteReportJob;
    operations[LoadAutorunView] = LoadAutorunViewJob;
    operations[LoadReportView] = LoadReportViewJob;
    operations[ListConnections] = ListConnectionsOperation;
}
