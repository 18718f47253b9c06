// Test helpers: a private temporary directory per test and scoped
// environment variables. Every test that touches files or the registry
// store uses its own TempDir, so tests can run in parallel.
#pragma once

#include <optional>
#include <string>

namespace zeb::test {

class TempDir {
public:
    TempDir();                       // mkdtemp under $TMPDIR (or /tmp)
    ~TempDir();                      // removes the whole tree
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or, with nullopt, unsets) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Reads a whole file ("" when missing) and writes one (truncating).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

} // namespace zeb::test
