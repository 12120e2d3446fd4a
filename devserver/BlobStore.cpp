#include "BlobStore.h"

#include "Ids.h"

#include <regex>

namespace fs = std::filesystem;

BlobStore::Upload::Upload(fs::path temporary, fs::path target, std::FILE* file)
    : m_temporary(std::move(temporary))
    , m_target(std::move(target))
    , m_file(file)
{
}

BlobStore::Upload::~Upload()
{
    if (m_file)
        std::fclose(m_file);
    if (!m_committed) {
        std::error_code ignored;
        fs::remove(m_temporary, ignored);
    }
}

bool BlobStore::Upload::write(const char* data, std::size_t size)
{
    if (!m_file || std::fwrite(data, 1, size, m_file) != size)
        return false;
    m_size += size;
    return true;
}

bool BlobStore::Upload::commit()
{
    if (!m_file)
        return false;
    const bool flushed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!flushed)
        return false;
    std::error_code error;
    fs::create_directories(m_target.parent_path(), error);
    fs::rename(m_temporary, m_target, error);
    m_committed = !error;
    return m_committed;
}

BlobStore::BlobStore(fs::path root)
    : m_root(std::move(root))
{
    fs::create_directories(m_root / ".incoming");
}

bool BlobStore::isValidPathname(const std::string& pathname)
{
    static const std::regex shape(
        "recordings/[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\.[a-z0-9]{1,10}");
    return pathname.size() < 128 && std::regex_match(pathname, shape);
}

fs::path BlobStore::fileFor(const std::string& pathname) const
{
    return m_root / pathname;
}

std::unique_ptr<BlobStore::Upload> BlobStore::begin(const std::string& pathname)
{
    std::error_code ignored;
    fs::create_directories(m_root / ".incoming", ignored);
    fs::path temporary = m_root / ".incoming" / (Ids::hex(12) + ".part");
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return nullptr;
    return std::make_unique<Upload>(std::move(temporary), fileFor(pathname), file);
}

void BlobStore::removeAll()
{
    std::error_code ignored;
    fs::remove_all(m_root / "recordings", ignored);
}
