// The printer's address and community as the monitor of its port reports
// them, through the spooler's transceive interface ("GetConfigInfo").
#include "printer/port_address.h"
#include "printer/port_records.h"
#include "printer/spooler.h"
#include "common/text.h"

#include <string.h>
#include <wchar.h>

enum {
    XCV_NAME_SIZE = 260,
    CONFIG_INFO_VERSION = 1,
    // No code page makes more than four bytes of one UTF-16 unit.
    CONVERTED_TEXT_SIZE = PORT_HOST_ADDRESS_UNITS * 4 + 1
};

static const char XCV_PORT_PREFIX[] = ",XcvPort ";
static const wchar_t CONFIG_INFO_COMMAND[] = L"GetConfigInfo";

// A reply field into the caller's buffer in the ANSI code page. The field is
// read up to its NUL but never past its own length. A multi-byte code page
// can make the text longer than the buffer: it is then cut after the last
// whole character that fits, never inside one (nor inside a surrogate pair).
static void ConvertPortText(const WCHAR *field, size_t fieldUnits, char *text, size_t textSize)
{
    char converted[CONVERTED_TEXT_SIZE];
    int units = (int)wcsnlen(field, fieldUnits);
    int length = 0;

    if (textSize == 0)
        return;
    if (units > 0)
        length = WideCharToMultiByte(CP_ACP, 0, field, units, converted,
                                     (int)sizeof(converted), NULL, NULL);
    while (units > 0 && (length <= 0 || (size_t)length > textSize - 1)) {
        units--;
        if (units > 0 && IS_HIGH_SURROGATE(field[units - 1]))
            units--;
        length = units > 0 ? WideCharToMultiByte(CP_ACP, 0, field, units, converted,
                                                 (int)sizeof(converted), NULL, NULL)
                           : 0;
    }
    CopyTextN(text, textSize, converted, length > 0 ? (size_t)length : 0);
}

int GetPortAddressFromMonitor(char *address, size_t addressSize, char *community,
                              size_t communitySize)
{
    HANDLE printer = NULL;
    HANDLE xcv = NULL;
    PRINTER_INFO_2A *info = NULL;
    char xcvName[XCV_NAME_SIZE];
    CONFIG_INFO_DATA_1 request;
    PORT_DATA_1 reply;
    DWORD needed = 0;
    DWORD status = 0;
    int result = 0;

    if (!OpenPrinterForReading(&printer))
        goto done;
    info = GetPrinterPortInfo(printer);
    printer = NULL;
    if (info == NULL)
        goto done;

    // A pooled printer's list of ports goes whole: it is not split.
    CopyText(xcvName, COUNTOF(xcvName), XCV_PORT_PREFIX);
    AppendText(xcvName, COUNTOF(xcvName), info->pPortName);
    if (!OpenPortTransceiver(xcvName, &xcv))
        goto done;

    memset(&request, 0, sizeof(request));
    request.dwVersion = CONFIG_INFO_VERSION;
    // Zero-filled, so that a monitor that declines in its status word alone
    // leaves two empty texts.
    memset(&reply, 0, sizeof(reply));
    if (!TransceivePortData(xcv, CONFIG_INFO_COMMAND, &request, sizeof(request), &reply,
                            sizeof(reply), &needed, &status))
        goto done;

    // The IP-address field is never read: the host address is the address.
    ConvertPortText(reply.sztHostAddress, COUNTOF(reply.sztHostAddress), address, addressSize);
    ConvertPortText(reply.sztSNMPCommunity, COUNTOF(reply.sztSNMPCommunity), community,
                    communitySize);
    result = 1;

done:
    ClosePrinterHandle(xcv);
    FreePrinterInfo(info);
    ClosePrinterHandle(printer);
    return result;
}
