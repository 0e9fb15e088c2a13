// The print spooler operations the program uses, gathered in one place: the
// rest of the program reaches the spooler only through these.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "common/base.h"

// The platform calls behind the operations. Tests may point an entry at a
// replacement to provoke failures the real spooler will not give on request.
struct SpoolerCalls {
    BOOL (WINAPI *openPrinter)(LPSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults);
    BOOL (WINAPI *closePrinter)(HANDLE printer);
    BOOL (WINAPI *getPrinter)(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
    DWORD (WINAPI *getPrinterData)(HANDLE printer, LPSTR valueName, LPDWORD type, LPBYTE data,
                                   DWORD size, LPDWORD needed);
    DWORD (WINAPI *setPrinterData)(HANDLE printer, LPSTR valueName, DWORD type, LPBYTE data,
                                   DWORD size);
    BOOL (WINAPI *xcvData)(HANDLE xcv, PCWSTR dataName, PBYTE input, DWORD inputSize,
                           PBYTE output, DWORD outputSize, PDWORD needed, PDWORD status);
    // The wide-name path of the console program (g_printerNameWide).
    BOOL (WINAPI *openPrinterW)(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    BOOL (WINAPI *getPrinterW)(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                               LPDWORD needed);
};
extern SpoolerCalls g_spoolerCalls;

// The printer's name in UTF-16, set by the console program, whose queues may
// be named in characters no ANSI code page holds. When it is set, every open
// of the printer uses it instead of g_printerName; the dialog program never
// sets it.
extern WCHAR g_printerNameWide[PRINTER_NAME_SIZE];

// Opens g_printerName (g_printerNameWide when set) with the spooler's
// default access (no defaults record).
int OpenPrinterForReading(HANDLE *printer);
// Opens g_printerName (g_printerNameWide when set) with
// PRINTER_ACCESS_ADMINISTER, so that data can be written.
int OpenPrinterForWriting(HANDLE *printer);
// Opens a port monitor's transceive name (",XcvPort <port>") with
// SERVER_ACCESS_ADMINISTER.
int OpenPortTransceiver(const char *xcvName, HANDLE *xcv);
void ClosePrinterHandle(HANDLE printer);

// Level-2 printer information in a VirtualAlloc block of the size the spooler
// reports; NULL when it cannot be had. Free it with FreePrinterInfo.
PRINTER_INFO_2A *GetPrinterInfo2(HANDLE printer);
void FreePrinterInfo(PRINTER_INFO_2A *info);
// The same in UTF-16, for names outside the ANSI code page. Free it with
// FreePrinterInfoW.
PRINTER_INFO_2W *GetPrinterInfo2W(HANDLE printer);
void FreePrinterInfoW(PRINTER_INFO_2W *info);
// The level-2 information of an open printer, whose handle is closed here,
// when it names a port; NULL when it cannot be had or the port name is
// empty (such a printer has nothing to ask about). Free it with
// FreePrinterInfo.
PRINTER_INFO_2A *GetPrinterPortInfo(HANDLE printer);

DWORD GetPrinterDataValue(HANDLE printer, const char *valueName, DWORD *type, void *data,
                          DWORD size, DWORD *byteCount);
DWORD SetPrinterDataValue(HANDLE printer, const char *valueName, DWORD type, const void *data,
                          DWORD byteCount);
int TransceivePortData(HANDLE xcv, const wchar_t *dataName, void *input, DWORD inputSize,
                       void *output, DWORD outputSize, DWORD *needed, DWORD *status);
