#include "app/win/job_operations.h"

#include "jobs/win/worker_job.h"

void InstallJobOperations() {
    JobOperation* operations = JobOperationTable();
    (void)operations;
}
