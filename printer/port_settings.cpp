// The settings detection starts with: the defaults, then the port's address
// and community (a cluster's keys first, the port monitor when the printer
// does not open or the cluster has nothing), then the stored community and
// time-out.
#include "printer/port_settings.h"
#include "printer/port_address.h"
#include "printer/printer_data.h"
#include "printer/spooler.h"
#include "common/text.h"

#include <string.h>

void FillPortSettings(char *address, char *community, char *timeoutText, PortSources *sources)
{
    PortSources local;
    HANDLE printer = NULL;
    int fromCluster = 0;

    if (sources == NULL)
        sources = &local;
    sources->address = SOURCE_DEFAULT;
    sources->community = SOURCE_DEFAULT;
    sources->timeout = SOURCE_DEFAULT;
    CopyText(address, SHORT_TEXT_SIZE, DEFAULT_ADDRESS_TEXT);
    community[0] = '\0';
    CopyText(timeoutText, TIMEOUT_TEXT_SIZE, DEFAULT_TIMEOUT_TEXT);

    // The cluster source closes the handle. It may write the address and
    // still fail: that address stays unless the monitor gives one.
    if (OpenPrinterForReading(&printer)) {
        fromCluster = GetPortAddressFromCluster(address, community, printer);
        printer = NULL;
    }
    if (fromCluster)
        sources->address = sources->community = SOURCE_CLUSTER;
    else if (strcmp(address, DEFAULT_ADDRESS_TEXT) != 0)
        sources->address = SOURCE_CLUSTER;
    if (!fromCluster &&
        GetPortAddressFromMonitor(address, SHORT_TEXT_SIZE, community, SHORT_TEXT_SIZE))
        sources->address = sources->community = SOURCE_MONITOR;

    // A port without a community gets the default one when none is stored.
    int portGaveNone = community[0] == '\0';
    int stored = ReadStoredSettings(community, timeoutText);
    if (stored & STORED_COMMUNITY)
        sources->community = SOURCE_STORED;
    else if (portGaveNone && community[0] != '\0')
        sources->community = SOURCE_DEFAULT;
    if (stored & STORED_TIMEOUT)
        sources->timeout = SOURCE_STORED;
}
