#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The INI configuration store with the semantics operators' files were written with:
// case-insensitive section and key names, defaults for a missing file, section or key, the
// file created on the first write and never kept open between calls.
class CConfigStore {
public:
    explicit CConfigStore(std::string path = {});
    virtual ~CConfigStore() = default;

    void SetPath(const std::string& path);
    std::string Path() const;
    // While the store's own file does not exist, reads come from seed, and the first write
    // starts from seed's content (an installed program's store moving to the user's folder).
    void SetSeed(const std::string& seed);

    // Decimal with an optional sign; the leading number of the value counts, none gives 0.
    int ReadInt(const std::string& section, const std::string& key, int def) const;
    bool WriteInt(const std::string& section, const std::string& key, int value);
    // One pair of surrounding quotes is taken off.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Structures as upper-case hex bytes followed by a checksum byte (low 8 bits of the sum).
    // A value of the wrong length, with a non-hex digit or a bad checksum is refused and
    // leaves data untouched.
    bool ReadStruct(const std::string& section, const std::string& key, void* data, size_t size) const;
    bool WriteStruct(const std::string& section, const std::string& key, const void* data, size_t size);

    // Raw lookup: false when the file, section or key is missing.
    bool Lookup(const std::string& section, const std::string& key, std::string& value) const;

private:
    bool Write(const std::string& section, const std::string& key, const std::string& value);
    // The file reads and writes go to: the store's own, or the seed while that is missing.
    const std::string& ReadPath() const;
    std::string m_path;
    std::string m_seed;
};

// The program's store: "VaroConfig.ini" in the store folder (UserFolders.h) unless a test set
// another path.
CConfigStore& AppStore();
