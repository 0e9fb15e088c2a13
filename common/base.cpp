// The process-wide values of the program, defined once at its base.
#include "common/base.h"

char g_printerName[PRINTER_NAME_SIZE];
HINSTANCE g_hInstance;
HWND g_hDialog;
char g_snmpValues[SNMP_VALUE_SLOTS][SNMP_VALUE_SIZE];
int g_snmpFailed;
