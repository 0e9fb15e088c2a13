// The entry of VRAutoDetect.exe: the options, then one printer, one
// address, or every printer.
#include "console/console.h"
#include "common/text.h"
#include "features/query_map.h"

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
    // --all only checks (each child takes its own), so wipes them at once.
    if (!LoadV3Security(&options, error, COUNTOF(error))) {
        fputs("VRAutoDetect: ", stderr);
        fputs(error, stderr);
        fputs("\n", stderr);
        return EXIT_USAGE;
    }
    InstallDiagnosticReporter();

    // Without the query map no option can be asked about: said before any
    // printer is asked, with nothing written.
    if (!options.child && !LoadQueryMap()) {
        GetQueryMapPath(programPath, COUNTOF(programPath));
        fputs("VRAutoDetect: the query map cannot be read: ", stderr);
        fputs(programPath, stderr);
        fputs("\nNothing was asked and nothing written. Put VRUnPQ.xml beside the program.\n",
              stderr);
        WipeV3Security();
        return EXIT_NOTHING_ASKED;
    }
    ReleaseQueryMap();
    if (!options.child && !BeginReport(&options, error, COUNTOF(error))) {
        fputs("VRAutoDetect: ", stderr);
        fputs(error, stderr);
        fputs("\n", stderr);
        WipeV3Security();
        return EXIT_USAGE;
    }

    int exitCode;
    if (options.mode == MODE_ALL && !options.child) {
        WipeV3Security();
        memset(programPath, 0, sizeof(programPath));
        GetModuleFileNameA(NULL, programPath, COUNTOF(programPath) - 1);
        exitCode = RunAllPrinters(&options, programPath);
    } else {
        DetectOne(&options, &s_report);
        WipeV3Security();
        if (options.child) {
            DWORD written = 0;
            WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &s_report, sizeof(s_report), &written,
                      NULL);
            return s_report.status == PRINTER_DETECTED ? EXIT_ALL_DETECTED : EXIT_NOT_DETECTED;
        }
        int detected = s_report.status == PRINTER_DETECTED;
        int failed = s_report.status == PRINTER_FAILED;
        int skipped = s_report.status == PRINTER_SKIPPED;
        exitCode = ChooseExitCode(detected, failed);
        if (options.json) {
            WriteJsonDocument(&s_report, 1, detected, failed, skipped, s_report.milliseconds,
                              exitCode);
        } else {
            WritePrinterTable(&s_report);
            WriteSummaryLine(detected, failed, skipped, s_report.milliseconds);
        }
        if (options.hasLog && !AppendLogLine(options.log, &s_report, error, COUNTOF(error))) {
            fputs("VRAutoDetect: ", stderr);
            fputs(error, stderr);
            fputs("\n", stderr);
            if (exitCode == EXIT_ALL_DETECTED)
                exitCode = EXIT_NOT_DETECTED;
        }
    }
    // A report that cannot be kept is a run that did not do what was asked.
    if (!FinishReport(error, COUNTOF(error))) {
        fputs("VRAutoDetect: ", stderr);
        fputs(error, stderr);
        fputs("\n", stderr);
        if (exitCode == EXIT_ALL_DETECTED)
            exitCode = EXIT_NOT_DETECTED;
    }
    return exitCode;
}
