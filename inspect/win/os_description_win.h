// Descriptions of the running system.
#pragma once

#include "inspect/os_description.h"

// Product and edition of this system, e.g. "OS WINDOWS XP     Professional Edition".
OsText DescribeOs();

// Version numbers and service pack of this system, e.g. "5.1.2600 Service Pack 2".
OsText DescribeOsVersion();
