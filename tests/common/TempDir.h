#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A private temporary folder for one test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "varo-test-XXXXXX").string();
        char* p = mkdtemp(tmpl.data());
        if (p) m_path = p;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a file inside, without the trailing slash problem.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

    static std::string ReadAll(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    static void WriteAll(const std::string& path, const std::string& data) {
        std::ofstream f(path, std::ios::binary);
        f << data;
    }

private:
    std::string m_path;
};
