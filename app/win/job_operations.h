// The worker's operations by job kind, installed once at program start.
#pragma once

// Puts every operation the program has into the worker's table (jobs/win/worker_job.h).
void InstallJobOperations();
