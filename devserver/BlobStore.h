#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

// Blob files under one folder, one per accepted path name. An upload goes to a
// temporary file first, so a broken or refused body never replaces a blob.
class BlobStore {
public:
    // One body on its way to disk; dropped without commit(), it leaves nothing behind.
    class Upload {
    public:
        Upload(std::filesystem::path temporary, std::filesystem::path target, std::FILE* file);
        ~Upload();
        Upload(const Upload&) = delete;
        Upload& operator=(const Upload&) = delete;

        bool write(const char* data, std::size_t size);
        [[nodiscard]] std::uint64_t size() const { return m_size; }
        // Moves the finished file into place; false when the disk refused.
        bool commit();

    private:
        std::filesystem::path m_temporary;
        std::filesystem::path m_target;
        std::FILE* m_file;
        std::uint64_t m_size = 0;
        bool m_committed = false;
    };

    explicit BlobStore(std::filesystem::path root);

    // Only "recordings/<lower-case uuid>.<lower-case extension>" is a path name here.
    static bool isValidPathname(const std::string& pathname);

    [[nodiscard]] std::filesystem::path fileFor(const std::string& pathname) const;
    // Nothing when the temporary file cannot be created.
    std::unique_ptr<Upload> begin(const std::string& pathname);
    void removeAll();

private:
    std::filesystem::path m_root;
};
