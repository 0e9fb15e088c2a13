// The print spooler operations, in one place.
#include "printer/spooler.h"
#include "common/base.h"

SpoolerCalls g_spoolerCalls = {
    OpenPrinterA, ClosePrinter, GetPrinterA, GetPrinterDataA, SetPrinterDataA, XcvDataW,
    OpenPrinterW, GetPrinterW,
};

WCHAR g_printerNameWide[PRINTER_NAME_SIZE];

// The printer by its wide name when the console program gave one.
static int OpenNamedPrinter(DWORD access, int withDefaults, HANDLE *printer)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, access};
    PRINTER_DEFAULTSW defaultsW = {NULL, NULL, access};
    BOOL opened;
    *printer = NULL;
    if (g_printerNameWide[0] != 0)
        opened = g_spoolerCalls.openPrinterW(g_printerNameWide, printer,
                                             withDefaults ? &defaultsW : NULL);
    else
        opened = g_spoolerCalls.openPrinter(g_printerName, printer,
                                            withDefaults ? &defaults : NULL);
    if (!opened) {
        *printer = NULL;
        return 0;
    }
    return 1;
}

int OpenPrinterForReading(HANDLE *printer)
{
    return OpenNamedPrinter(0, 0, printer);
}

int OpenPrinterForWriting(HANDLE *printer)
{
    return OpenNamedPrinter(PRINTER_ACCESS_ADMINISTER, 1, printer);
}

int OpenPortTransceiver(const char *xcvName, HANDLE *xcv)
{
    PRINTER_DEFAULTSA defaults = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
    *xcv = NULL;
    if (!g_spoolerCalls.openPrinter(const_cast<LPSTR>(xcvName), xcv, &defaults)) {
        *xcv = NULL;
        return 0;
    }
    return 1;
}

void ClosePrinterHandle(HANDLE printer)
{
    if (printer != NULL)
        g_spoolerCalls.closePrinter(printer);
}

PRINTER_INFO_2A *GetPrinterInfo2(HANDLE printer)
{
    DWORD needed = 0;
    g_spoolerCalls.getPrinter(printer, 2, NULL, 0, &needed);
    if (needed == 0)
        return NULL;
    void *block = VirtualAlloc(NULL, needed, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == NULL)
        return NULL;
    if (!g_spoolerCalls.getPrinter(printer, 2, (LPBYTE)block, needed, &needed)) {
        VirtualFree(block, 0, MEM_RELEASE);
        return NULL;
    }
    return (PRINTER_INFO_2A *)block;
}

void FreePrinterInfo(PRINTER_INFO_2A *info)
{
    if (info != NULL)
        VirtualFree(info, 0, MEM_RELEASE);
}

PRINTER_INFO_2W *GetPrinterInfo2W(HANDLE printer)
{
    DWORD needed = 0;
    g_spoolerCalls.getPrinterW(printer, 2, NULL, 0, &needed);
    if (needed == 0)
        return NULL;
    void *block = VirtualAlloc(NULL, needed, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == NULL)
        return NULL;
    if (!g_spoolerCalls.getPrinterW(printer, 2, (LPBYTE)block, needed, &needed)) {
        VirtualFree(block, 0, MEM_RELEASE);
        return NULL;
    }
    return (PRINTER_INFO_2W *)block;
}

void FreePrinterInfoW(PRINTER_INFO_2W *info)
{
    if (info != NULL)
        VirtualFree(info, 0, MEM_RELEASE);
}

PRINTER_INFO_2A *GetPrinterPortInfo(HANDLE printer)
{
    PRINTER_INFO_2A *info = GetPrinterInfo2(printer);
    ClosePrinterHandle(printer);
    if (info != NULL && (info->pPortName == NULL || info->pPortName[0] == '\0')) {
        FreePrinterInfo(info);
        info = NULL;
    }
    return info;
}

DWORD GetPrinterDataValue(HANDLE printer, const char *valueName, DWORD *type, void *data,
                          DWORD size, DWORD *byteCount)
{
    return g_spoolerCalls.getPrinterData(printer, const_cast<LPSTR>(valueName), type,
                                         (LPBYTE)data, size, byteCount);
}

DWORD SetPrinterDataValue(HANDLE printer, const char *valueName, DWORD type, const void *data,
                          DWORD byteCount)
{
    return g_spoolerCalls.setPrinterData(printer, const_cast<LPSTR>(valueName), type,
                                         (LPBYTE)const_cast<void *>(data), byteCount);
}

int TransceivePortData(HANDLE xcv, const wchar_t *dataName, void *input, DWORD inputSize,
                       void *output, DWORD outputSize, DWORD *needed, DWORD *status)
{
    return g_spoolerCalls.xcvData(xcv, dataName, (PBYTE)input, inputSize, (PBYTE)output,
                                  outputSize, needed, status) ? 1 : 0;
}
