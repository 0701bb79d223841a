// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDD_NOTICE 400
#define IDC_NOTICE_TEXT 401
#define IDC_NOTICE_COUNTDOWN 402
