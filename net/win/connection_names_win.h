// The system's name service for the connection texts: host by address and service by
// port through Windows Sockets, and the one ConnectionNames of the run.
#pragma once

#include "net/connection_format.h"

// The Windows Sockets lookups (Windows Sockets is started on first use if the program
// has not started it).
const NameServiceOps& SystemNameServiceOps();

// The names of the run: lookups and answers shared by every listing and report.
ConnectionNames& SystemConnectionNames();
