#include "app/win/job_operations.h"

#include "jobs/win/worker_job.h"
#include "net/win/connection_list.h"

void InstallJobOperations() {
    JobOperation* operations = JobOperationTable();
    (void)operations;
    operations[ListConnections] = ListConnectionsOperation;
}
