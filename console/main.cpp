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

// One message on standard error, under the program's name.
static void SayError(const char *text, const char *after)
{
    WriteErrorText("VRAutoDetect: ");
    WriteErrorText(text);
    WriteErrorText(after);
}

int main(int argc, char **argv)
{
    ConsoleOptions options;
    char error[LONG_TEXT_SIZE];
    char programPath[CONSOLE_PATH_SIZE];
    // What else made the run fail, for its event (--event-log).
    char problem[LONG_TEXT_SIZE] = "";
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
        SayError(error, "\n\n");
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
        SayError(error, "\n");
        return EXIT_USAGE;
    }
    InstallDiagnosticReporter();
    OpenRunEventLog(&options);

    // A worker of --all detects the printers its parent hands it.
    if (options.child)
        return RunWorker(&options);
    // A report or history that cannot be kept is known before anything is
    // asked: nothing is (the report or the history says so when it can).
    int exitCode;
    if (!BeginReport(&options, error, COUNTOF(error))) {
        SayError(error, "; nothing was asked\n");
        ReportNothingAsked(&options, error);
        CopyText(problem, COUNTOF(problem), error);
        WipeV3Security();
        exitCode = EXIT_NOTHING_ASKED;
    } else if (!LoadQueryMap()) {
        // Without the query map no option can be asked about: said before
        // any printer is asked, with nothing written.
        char reason[REASON_SIZE];
        GetQueryMapPathUtf8(programPath, COUNTOF(programPath));
        WriteErrorText("VRAutoDetect: the query map cannot be read: ");
        WriteErrorText(programPath);
        WriteErrorText("\nNothing was asked and nothing written. Put VRUnPQ.xml beside the "
                       "program.\n");
        FormatText(reason, COUNTOF(reason), "the query map cannot be read: %s", programPath);
        ReportNothingAsked(&options, reason);
        WipeV3Security();
        FormatText(problem, COUNTOF(problem), "the query map cannot be read: %s. Nothing was "
                   "asked and nothing written. Put VRUnPQ.xml beside the program.", programPath);
        exitCode = EXIT_NOTHING_ASKED;
    } else if (options.hasV3Engines && !LoadEngineFile(options.v3Engines, error,
                                                       COUNTOF(error))) {
        // The known engines, read before any printer is asked: a line that
        // is not one asks nothing.
        SayError(error, "\nNothing was asked and nothing written.\n");
        ReportNothingAsked(&options, error);
        CopyText(problem, COUNTOF(problem), error);
        WipeV3Security();
        exitCode = EXIT_NOTHING_ASKED;
    } else if (options.mode == MODE_ALL) {
        ReleaseQueryMap();
        memset(widePath, 0, sizeof(widePath));
        GetModuleFileNameW(NULL, widePath, COUNTOF(widePath) - 1);
        WideToUtf8(widePath, programPath, COUNTOF(programPath));
        exitCode = RunAllPrinters(&options, programPath);
        WipeV3Security();
    } else {
        ReleaseQueryMap();
        SetEngineJudge(JudgeHere);
        DetectWithinBound(&options, &s_report);
        WipeV3Security();
        int detected = s_report.status == PRINTER_DETECTED;
        int failed = s_report.status == PRINTER_FAILED;
        int skipped = s_report.status == PRINTER_SKIPPED;
        exitCode = ChooseExitCode(detected, failed);
        // A misspelt queue name: nothing was asked, as for a misspelt driver.
        if (s_report.noSuchPrinter) {
            SayError(s_report.reason, ": nothing was asked\n");
            ReportNothingAsked(&options, s_report.reason);
            CopyText(problem, COUNTOF(problem), s_report.reason);
            exitCode = EXIT_NOTHING_ASKED;
        } else {
            ReportPrinterEvent(&s_report);
            if (options.json) {
                WriteJsonDocument(&s_report, 1, detected, failed, skipped,
                                  s_report.milliseconds, exitCode);
            } else {
                WritePrinterTable(&s_report);
                WriteSummaryLine(detected, failed, skipped, s_report.milliseconds);
            }
        }
        if (options.hasLog && !s_report.noSuchPrinter &&
            !AppendLogLine(options.log, &s_report, error, COUNTOF(error))) {
            SayError(error, "\n");
            CopyText(problem, COUNTOF(problem), error);
            if (exitCode == EXIT_ALL_DETECTED)
                exitCode = EXIT_NOT_DETECTED;
        }
    }
    // The engines this run trusted first, remembered for the next.
    if (!SaveEngineFile(error, COUNTOF(error))) {
        SayError(error, "\n");
        CopyText(problem, COUNTOF(problem), error);
        if (exitCode == EXIT_ALL_DETECTED)
            exitCode = EXIT_NOT_DETECTED;
    }
    // A report that cannot be kept is a run that did not do what was asked.
    if (!FinishReport(error, COUNTOF(error))) {
        SayError(error, "\n");
        CopyText(problem, COUNTOF(problem), error);
        if (exitCode == EXIT_ALL_DETECTED)
            exitCode = EXIT_NOT_DETECTED;
    }
    ReportRunEvent(exitCode, problem);
    return exitCode;
}
