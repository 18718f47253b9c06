// Output of zebinst: the exit statuses, the error that ends a command, the
// texts of the installation's result words, and a small JSON writer for the
// commands that list or show with --json.
//
//   throw CommandError(kExitNotFound, "no installed type SampleDrive.9");
//   JsonWriter json;
//   json.beginObject().key("name").value("SampleDrive.1.0").endObject();
//   std::puts(json.text().c_str());
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zebinst {

// Exit statuses: scripts test them.
enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 1,    // bad command line, no configuration directory
    kExitNotFound = 2, // no such type, tool, attribute or snap-in
    kExitFailure = 3,  // the installation refused or a file could not be used
};

// Ends a command: main prints "zebinst: <message>" on stderr and exits with
// the status.
class CommandError : public std::runtime_error {
public:
    CommandError(int status, const std::string& message)
        : std::runtime_error(message), m_status(status) {}
    int status() const noexcept { return m_status; }

private:
    int m_status;
};

// "0xBE020004 (already present)": a result word and what it means.
std::string resultText(DWORD ret);
// The exit status a refused operation gets: not found for the words that say
// something is absent, failure for the rest.
int statusOfResult(DWORD ret);

// Builds JSON text; commas and nesting are tracked, strings escaped.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(int64_t number);
    JsonWriter& value(bool flag);
    JsonWriter& null();
    const std::string& text() const { return m_text; }

private:
    void separate();
    std::string m_text;
    std::vector<bool> m_first; // per open container: nothing written in it yet
    bool m_afterKey = false;
};

// Prints the JSON text and a newline on stdout.
void printJson(const JsonWriter& json);

} // namespace zebinst
