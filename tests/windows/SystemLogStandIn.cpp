// Stands in for the System event log inside one program, which
// okr-test-launch-with-dll loads this DLL into: the program's own imports of
// OpenEventLogA, ReadEventLogA and CloseEventLog are redirected here, so that
// reading the System log gives the records a test chose. Nothing else of the
// program changes, and other logs go to the real calls.
//
// The records come from the text file that the environment variable
// OKR_TEST_SYSTEM_LOG names (a Windows path), read at each OpenEventLogA of
// "System", newest record first, one per line:
//     TIME SOURCE EVENT_ID [DATA_BYTES]
// TIME is the record's TimeGenerated and TimeWritten, EVENT_ID decimal or
// 0x-hexadecimal, DATA_BYTES the size of its raw data (default 0), so that a
// record can be made larger than a reader's buffer. Each record is laid out
// as the platform's EVENTLOGRECORD, and reads follow ReadEventLogA's rules:
// backwards sequential reads only, newest first; whole records only; when
// the next does not fit, ERROR_INSUFFICIENT_BUFFER and the bytes it needs;
// after the oldest, ERROR_HANDLE_EOF.
//
// Every call is appended, one line each, to the file OKR_TEST_SYSTEM_LOG
// followed by ".reads", so that a test can tell what the program read:
//     open System | open: bad line N | read SIZE: N records |
//     read SIZE: too small, N needed | read SIZE: end | close

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

decltype(&OpenEventLogA) realOpen = nullptr;
decltype(&ReadEventLogA) realRead = nullptr;
decltype(&CloseEventLog) realClose = nullptr;

struct ServedLog {
    std::vector<unsigned char> records; // newest first, as read
    std::size_t next = 0;
    std::string trace;
} served;

HANDLE servedHandle() { return reinterpret_cast<HANDLE>(&served); }

void note(const std::string& line)
{
    if (FILE* trace = std::fopen(served.trace.c_str(), "a")) {
        std::fprintf(trace, "%s\n", line.c_str());
        std::fclose(trace);
    }
}

bool parseNumber(const std::string& text, DWORD& value)
{
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end != '\0' || parsed > 0xFFFFFFFFull) {
        return false;
    }
    value = static_cast<DWORD>(parsed);
    return true;
}

struct Entry {
    DWORD time = 0;
    std::string source;
    DWORD eventId = 0;
    DWORD dataBytes = 0;
};

bool parseEntry(const std::string& line, Entry& entry)
{
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;) {
        words.push_back(word);
    }
    if (words.size() < 3 || words.size() > 4) {
        return false;
    }
    entry.source = words[1];
    return parseNumber(words[0], entry.time) && parseNumber(words[2], entry.eventId) &&
           parseNumber(words.size() == 4 ? words[3] : "0", entry.dataBytes) && entry.dataBytes <= 0x10000000;
}

std::size_t roundUpTo4(std::size_t size) { return (size + 3) / 4 * 4; }

// Header, source and computer names, padding, the raw data, then the length
// once more; strings and SID point after the names with counts of zero.
void appendRecord(std::vector<unsigned char>& log, DWORD number, const Entry& entry)
{
    static const char computer[] = "OKR-TEST";
    const std::size_t names = sizeof(EVENTLOGRECORD) + entry.source.size() + 1 + sizeof computer;
    const DWORD dataOffset = static_cast<DWORD>(roundUpTo4(names));
    const DWORD length = static_cast<DWORD>(roundUpTo4(dataOffset + entry.dataBytes) + sizeof(DWORD));
    EVENTLOGRECORD header = {};
    header.Length = length;
    header.Reserved = 0x654c664c; // "LfLe"
    header.RecordNumber = number;
    header.TimeGenerated = entry.time;
    header.TimeWritten = entry.time;
    header.EventID = entry.eventId;
    header.EventType = EVENTLOG_INFORMATION_TYPE;
    header.StringOffset = dataOffset;
    header.UserSidOffset = dataOffset;
    header.DataLength = entry.dataBytes;
    header.DataOffset = dataOffset;
    const std::size_t at = log.size();
    log.resize(at + length);
    std::memcpy(&log[at], &header, sizeof header);
    std::memcpy(&log[at + sizeof header], entry.source.c_str(), entry.source.size() + 1);
    std::memcpy(&log[at + sizeof header + entry.source.size() + 1], computer, sizeof computer);
    std::memcpy(&log[at + length - sizeof length], &length, sizeof length);
}

// 0 when every line is a record, else the number of the first bad line
// (1 for a file that cannot be read).
std::size_t loadRecords(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        return 1;
    }
    std::vector<Entry> entries;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        entries.emplace_back();
        if (!parseEntry(line, entries.back())) {
            return entries.size();
        }
    }
    served.records.clear();
    served.next = 0;
    DWORD number = static_cast<DWORD>(entries.size()); // the newest has the highest
    for (const Entry& entry : entries) {
        appendRecord(served.records, number--, entry);
    }
    return 0;
}

DWORD lengthAt(std::size_t offset)
{
    DWORD length = 0;
    std::memcpy(&length, &served.records[offset], sizeof length);
    return length;
}

HANDLE WINAPI openLog(LPCSTR server, LPCSTR name)
{
    const char* path = std::getenv("OKR_TEST_SYSTEM_LOG");
    if (server != nullptr || name == nullptr || std::strcmp(name, "System") != 0 || path == nullptr) {
        return realOpen(server, name);
    }
    served.trace = std::string(path) + ".reads";
    if (const std::size_t bad = loadRecords(path)) {
        note("open: bad line " + std::to_string(bad));
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    note("open System");
    return servedHandle();
}

BOOL WINAPI readLog(HANDLE log, DWORD flags, DWORD offset, LPVOID buffer, DWORD size, DWORD* got, DWORD* needed)
{
    if (log != servedHandle()) {
        return realRead(log, flags, offset, buffer, size, got, needed);
    }
    const std::string call = "read " + std::to_string(size) + ": ";
    *got = 0;
    if (flags != (EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ)) {
        note(call + "flags not served");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::size_t end = served.next;
    int count = 0;
    while (end < served.records.size() && lengthAt(end) <= size - (end - served.next)) {
        end += lengthAt(end);
        ++count;
    }
    if (count == 0 && end == served.records.size()) {
        note(call + "end");
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    if (count == 0) {
        *needed = lengthAt(end);
        note(call + "too small, " + std::to_string(*needed) + " needed");
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, &served.records[served.next], end - served.next);
    *got = static_cast<DWORD>(end - served.next);
    served.next = end;
    note(call + std::to_string(count) + (count == 1 ? " record" : " records"));
    return TRUE;
}

BOOL WINAPI closeLog(HANDLE log)
{
    if (log != servedHandle()) {
        return realClose(log);
    }
    note("close");
    return TRUE;
}

template <typename Function>
void redirect(IMAGE_THUNK_DATA* slot, Function replacement, Function& original)
{
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    original = reinterpret_cast<Function>(slot->u1.Function);
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

// Swaps the three entries of the program's import table from ADVAPI32 (found
// by name). Only the program's own calls are redirected, not those of other
// DLLs nor calls through GetProcAddress.
bool redirectImports()
{
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; imports.VirtualAddress != 0 && library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "advapi32.dll") != 0) {
            continue;
        }
        auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; name->u1.AddressOfData != 0; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) {
                continue;
            }
            const char* function = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name;
            if (std::strcmp(function, "OpenEventLogA") == 0) {
                redirect(slot, &openLog, realOpen);
            } else if (std::strcmp(function, "ReadEventLogA") == 0) {
                redirect(slot, &readLog, realRead);
            } else if (std::strcmp(function, "CloseEventLog") == 0) {
                redirect(slot, &closeLog, realClose);
            }
        }
    }
    return realOpen != nullptr && realRead != nullptr && realClose != nullptr;
}

} // namespace

// Only the redirection happens here, under the loader lock; the records are
// read at the first OpenEventLogA. A program that does not import all three
// calls refuses the DLL, so that a test cannot pass without the stand-in.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    DisableThreadLibraryCalls(instance);
    return redirectImports() ? TRUE : FALSE;
}
