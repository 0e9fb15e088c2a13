// The entry of VRAutoDetect.exe: the options, then one printer, one
// address, or every printer.
#include "console/console.h"
#include "common/text.h"

#include <string.h>

// Large: a static record, not a stack one.
static PrinterReport s_report;

int main(int argc, char **argv)
{
    ConsoleOptions options;
    char error[LONG_TEXT_SIZE];
    char programPath[PATH_TEXT_SIZE];

    // The query map is read beside this module.
    g_hInstance = GetModuleHandleA(NULL);
    if (!ParseConsoleOptions(argc, argv, &options, error, COUNTOF(error))) {
        fputs("VRAutoDetect: ", stderr);
        fputs(error, stderr);
        fputs("\n\n", stderr);
        WriteUsage(stderr);
        return EXIT_USAGE;
    }
    if (options.help) {
        WriteUsage(stdout);
        return EXIT_ALL_DETECTED;
    }
    // A missing password is told before any printer is asked; the parent of
    // --all only checks (each worker takes its own), so wipes them at once.
    if (!LoadV3Security(&options, error, COUNTOF(error))) {
        fputs("VRAutoDetect: ", stderr);
        fputs(error, stderr);
        fputs("\n", stderr);
        return EXIT_USAGE;
    }
    InstallDiagnosticReporter();

    if (options.child)
        return RunWorker(&options);
    if (options.mode == MODE_ALL) {
        WipeV3Security();
        memset(programPath, 0, sizeof(programPath));
        GetModuleFileNameA(NULL, programPath, COUNTOF(programPath) - 1);
        return RunAllPrinters(&options, programPath);
    }

    DetectOne(&options, &s_report);
    WipeV3Security();
    int detected = s_report.status == PRINTER_DETECTED;
    int failed = s_report.status == PRINTER_FAILED;
    int skipped = s_report.status == PRINTER_SKIPPED;
    int exitCode = ChooseExitCode(detected, failed);
    if (options.json) {
        WriteJsonDocument(&s_report, 1, detected, failed, skipped, s_report.milliseconds,
                          exitCode);
    } else {
        WritePrinterTable(&s_report);
        WriteSummaryLine(detected, failed, skipped, s_report.milliseconds);
    }
    return exitCode;
}
