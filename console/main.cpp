// The entry of VRAutoDetect.exe: the options, then one printer, one
// address, or every printer.
#include "console/console.h"
#include "common/text.h"
#include "features/query_map.h"
#include "version.h"

#include <string.h>

// Large: a static record, not a stack one.
static PrinterReport s_report;

// One printer's engine, judged in this process.
static int JudgeHere(const char *address, const char *engine, EngineVerdict *verdict)
{
    JudgeEngine(address, engine, verdict);
    return 1;
}

int main(int argc, char **argv)
{
    ConsoleOptions options;
    char error[LONG_TEXT_SIZE];
    char programPath[CONSOLE_PATH_SIZE];
    WCHAR widePath[PATH_TEXT_SIZE];

    // The query map is read beside this module.
    g_hInstance = GetModuleHandleA(NULL);
    // The arguments as typed, whatever the code page: printer names in any
    // script.
    if (!ReadWideArguments(&argc, &argv)) {
        WriteErrorText("VRAutoDetect: the command line cannot be read\n");
        return EXIT_USAGE;
    }
    if (!ParseConsoleOptions(argc, argv, &options, error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n\n");
        WriteUsage(stderr);
        return EXIT_USAGE;
    }
    if (options.help) {
        WriteUsage(stdout);
        return EXIT_ALL_DETECTED;
    }
    if (options.version) {
        fputs("VRAutoDetect.exe " VR_VERSION_TEXT "\n", stdout);
        return EXIT_ALL_DETECTED;
    }
    // A worker of --all reads the keys its parent hands over before anything
    // else; a missing password is told before any printer is asked.
    if ((options.child && !ReadV3Handover(GetStdHandle(STD_INPUT_HANDLE), error,
                                          COUNTOF(error))) ||
        !LoadV3Security(&options, error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n");
        return EXIT_USAGE;
    }
    InstallDiagnosticReporter();

    // A worker of --all detects the printers its parent hands it.
    if (options.child)
        return RunWorker(&options);
    // Without the query map no option can be asked about: said before any
    // printer is asked, with nothing written.
    if (!LoadQueryMap()) {
        GetQueryMapPathUtf8(programPath, COUNTOF(programPath));
        WriteErrorText("VRAutoDetect: the query map cannot be read: ");
        WriteErrorText(programPath);
        WriteErrorText("\nNothing was asked and nothing written. Put VRUnPQ.xml beside the "
                       "program.\n");
        WipeV3Security();
        return EXIT_NOTHING_ASKED;
    }
    ReleaseQueryMap();
    // The known engines, read before any printer is asked: a line that is
    // not one asks nothing.
    if (options.hasV3Engines && !LoadEngineFile(options.v3Engines, error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\nNothing was asked and nothing written.\n");
        WipeV3Security();
        return EXIT_NOTHING_ASKED;
    }
    if (!BeginReport(&options, error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n");
        WipeV3Security();
        return EXIT_USAGE;
    }

    int exitCode;
    if (options.mode == MODE_ALL) {
        memset(widePath, 0, sizeof(widePath));
        GetModuleFileNameW(NULL, widePath, COUNTOF(widePath) - 1);
        WideToUtf8(widePath, programPath, COUNTOF(programPath));
        exitCode = RunAllPrinters(&options, programPath);
        WipeV3Security();
    } else {
        SetEngineJudge(JudgeHere);
        DetectOne(&options, &s_report);
        WipeV3Security();
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
            WriteErrorText("VRAutoDetect: ");
            WriteErrorText(error);
            WriteErrorText("\n");
            if (exitCode == EXIT_ALL_DETECTED)
                exitCode = EXIT_NOT_DETECTED;
        }
    }
    // The engines this run trusted first, remembered for the next.
    if (!SaveEngineFile(error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n");
        if (exitCode == EXIT_ALL_DETECTED)
            exitCode = EXIT_NOT_DETECTED;
    }
    // A report that cannot be kept is a run that did not do what was asked.
    if (!FinishReport(error, COUNTOF(error))) {
        WriteErrorText("VRAutoDetect: ");
        WriteErrorText(error);
        WriteErrorText("\n");
        if (exitCode == EXIT_ALL_DETECTED)
            exitCode = EXIT_NOT_DETECTED;
    }
    return exitCode;
}
