// The test bench shared by the Windows tests: a recorder for message boxes,
// readers for printer data values, and files beside the test program.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// ---- box_recorder.cpp ----------------------------------------------------

// What a message box showed, as read while it was open.
struct RecordedBox {
    std::string caption;
    std::string text;
    HWND owner = NULL;          // the box's owner window (NULL: none)
    bool ownerEnabled = false;  // whether the owner took input while the box was open
    std::string icon;           // "none", "error", "warning", "information" or "question"
    std::vector<int> buttons;   // ids of the push buttons, in creation order
};

// Records every message box that this thread opens while it is alive, and
// closes each one (with its first button) once recorded. A callback set with
// WhileOpen runs while the box is open, before it is closed: the box's own
// modal loop is then running.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    const std::vector<RecordedBox> &Boxes() const { return boxes_; }
    size_t Count() const { return boxes_.size(); }
    void Clear() { boxes_.clear(); }
    void WhileOpen(std::function<void(const RecordedBox &)> callback) { whileOpen_ = callback; }

    // Internal: called from the hook.
    void Record(HWND box);
    void RunCallbackAndClose(HWND box);

private:
    HHOOK hook_;
    std::vector<RecordedBox> boxes_;
    std::function<void(const RecordedBox &)> whileOpen_;
};

// Renders a box for failure messages: caption, text, owner, icon, buttons.
std::string Describe(const RecordedBox &box);

// ---- printer_values.cpp --------------------------------------------------

// A value as read back: its type and its bytes.
struct StoredValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

// Through the spooler (OpenPrinterA, GetPrinterDataA), as the driver reads it.
StoredValue ReadValueThroughSpooler(const char *printer, const char *valueName);
// The raw bytes and type that the registry holds under the printer's key.
StoredValue ReadValueFromRegistry(const char *printer, const char *valueName);
// Stores a value as another program would, straight into the registry (raw
// bytes, any type).
bool WriteValueToRegistry(const char *printer, const char *valueName, DWORD type,
                          const void *bytes, DWORD count);
// Stores a value through the spooler (OpenPrinterA for administration,
// SetPrinterDataA), as the program itself does.
bool WriteValueThroughSpooler(const char *printer, const char *valueName, DWORD type,
                              const void *bytes, DWORD count);
// The bytes the program handed to SetPrinterDataA, recovered from the
// registry: the spooler keeps texts (REG_SZ, REG_MULTI_SZ) as UTF-16, so they
// are narrowed code unit by code unit, and the terminator that the spooler
// adds to a REG_SZ is dropped.
StoredValue ReadValueAsWritten(const char *printer, const char *valueName);
// The names of the printer's data values (Wine enumerates them sorted, not
// in the order they were written).
std::vector<std::string> ValueNames(const char *printer);
// Removes the printer's data values, so that a test starts from nothing.
void DeleteAllValues(const char *printer);

std::vector<BYTE> Bytes(const char *text, size_t count);
std::string HexBytes(const std::vector<BYTE> &bytes);

// ---- stored_values.cpp ---------------------------------------------------

// One SetPrinterDataA call of the program, as it handed it over.
struct SpoolerWrite {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

// Records every printer data write the program makes while it is alive (its
// spooler calls are routed through here, and still reach the spooler).
class SpoolerWriteRecorder {
public:
    SpoolerWriteRecorder();
    ~SpoolerWriteRecorder();
    SpoolerWriteRecorder(const SpoolerWriteRecorder &) = delete;
    SpoolerWriteRecorder &operator=(const SpoolerWriteRecorder &) = delete;

    const std::vector<SpoolerWrite> &Writes() const { return writes_; }
    // The value names written, in order.
    std::vector<std::string> Names() const;
    void Clear() { writes_.clear(); }
    void Add(const SpoolerWrite &write) { writes_.push_back(write); }

private:
    std::vector<SpoolerWrite> writes_;
};

// The value's last write was handed over with exactly this type and these
// bytes, the registry holds them (as UTF-16 for text types), and the spooler
// gives them back.
void ExpectStored(const SpoolerWriteRecorder &recorder, const char *printer, const char *name,
                  DWORD type, const std::vector<BYTE> &bytes);

// ---- files.cpp -----------------------------------------------------------

// The directory of the running test program, with a trailing backslash.
std::string ProgramDirectory();
// Writes a file of these bytes into the program's directory.
bool WriteProgramFile(const char *name, const std::string &content);
void DeleteProgramFile(const char *name);
// A Linux path of the build as a Windows path through drive Z:.
std::string WindowsPath(const char *unixPath);

// ---- config_dialog.cpp ---------------------------------------------------

// Dialog template 103 of the program's resources, made modeless with a
// procedure that does nothing: the fields, buttons and owner that the code
// under test reads. NULL when it cannot be made.
HWND CreateConfigTemplateDialog();
// Sets the address, community and time-out fields (1008, 1009, 1013).
void SetQueryFields(HWND dialog, const char *address, const char *community,
                    const char *timeout);
// Whether tests/agents/printer-agents.sh started the options printers
// (snmpd on 127.0.0.51, the disk-only agent on 127.0.0.52); why not when not.
bool OptionsAgentAvailable(std::string *reason);

// ---- program_driver.cpp --------------------------------------------------

// A window's text asked for by message (WM_GETTEXT, the only way to read
// another process's edit field), with a time-out.
std::string WindowTextByMessage(HWND window);

// The real program, run from a copy in a scratch directory of its own beside
// the test program (the program reads VRUnPQ.xml from its own directory).
// Needs a display: under the null graphics driver another process's windows
// are not enumerated.
class ProgramDriver {
public:
    // scratchName: the directory's name; programPath: the built program's
    // Linux path.
    ProgramDriver(const char *scratchName, const char *programPath);
    // Ends a program still running and removes the scratch directory.
    ~ProgramDriver();
    ProgramDriver(const ProgramDriver &) = delete;
    ProgramDriver &operator=(const ProgramDriver &) = delete;

    bool WriteMap(const std::string &text);
    // Starts "<copy>" "<printer>" with the scratch directory as current one.
    bool Start(const char *printer);
    // The program's configuration dialog once it is shown, or NULL.
    HWND WaitForDialog(DWORD timeoutMs);
    HWND Dialog() const { return dialog_; }
    // The scratch directory, with a trailing backslash.
    const std::string &Directory() const { return directory_; }
    std::string Title() const;
    std::string Field(int id) const;
    bool SetField(int id, const std::string &text);
    void Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    void PostToControl(int id, UINT message, WPARAM wParam, LPARAM lParam) const;
    // The program's visible top-level windows of this class.
    std::vector<HWND> Windows(const char *className) const;
    // A message box of the program that is open now, or NULL.
    HWND OpenBox();
    // Records the box (caption, text, owner, push buttons), runs the WhileOpen
    // callback, presses its first button and waits until it is gone.
    void AnswerBox(HWND box);
    void WhileOpen(std::function<void(const RecordedBox &)> callback) { whileOpen_ = callback; }
    // Answers every box until the program ends; false when it did not end in
    // time.
    bool WaitForEnd(DWORD timeoutMs, DWORD *exitCode);
    bool Running() const;
    const std::vector<RecordedBox> &Boxes() const { return boxes_; }

private:
    std::string directory_;
    bool copied_ = false;
    PROCESS_INFORMATION process_;
    HWND dialog_ = NULL;
    std::vector<RecordedBox> boxes_;
    std::function<void(const RecordedBox &)> whileOpen_;
};

// ---- ports.cpp -------------------------------------------------------------

// A registry value to create: its name, type and exact bytes.
struct RegValue {
    std::string name;
    DWORD type;
    std::string bytes;
};
// REG_SZ of this text and its NUL.
RegValue TextValue(const char *name, const std::string &text);
// Exactly these bytes, of any type (no NUL added).
RegValue RawValue(const char *name, DWORD type, const std::string &bytes);
RegValue NumberValue(const char *name, DWORD number);

// Creates the key below HKEY_LOCAL_MACHINE (and its parents) with the values.
bool CreateMachineKey(const std::string &path, const std::vector<RegValue> &values = {});
// Removes the key below HKEY_LOCAL_MACHINE with everything below it.
void DeleteMachineKey(const std::string &path);

// The Standard TCP/IP Port monitor's key of a port, below HKEY_LOCAL_MACHINE.
std::string MonitorPortKey(const std::string &port);
// A cluster resource's key of a port, below HKEY_LOCAL_MACHINE:
// <cluster>\Resources\<resource>\Parameters\Monitors\Standard TCP/IP Port\Ports\<port>;
// with an empty port, the resource's Ports key itself.
std::string ClusterPortKey(const std::string &cluster, const std::string &resource,
                           const std::string &port);

// ---- footprint.cpp ---------------------------------------------------------

// What the process holds: open handles, bytes in use in its heaps, and
// committed private memory (which a VirtualAlloc block left behind shows in).
// Wine counts no handles (GetProcessHandleCount gives 0), but hands out the
// lowest free handle value: a handle left open pushes the next one up.
struct ProcessUsage {
    DWORD handles = 0;
    UINT_PTR nextHandle = 0;
    size_t heapBytes = 0;
    size_t committedBytes = 0;
};
ProcessUsage MeasureProcessUsage();
// Bytes in use in all of the process's heaps.
size_t BusyHeapBytes();
