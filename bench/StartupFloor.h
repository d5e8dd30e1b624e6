// Resource identifiers of the start-up floor program.
#pragma once

#define IDD_STARTUP_FLOOR 100
#define IDC_FLOOR_LIST    1001
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
