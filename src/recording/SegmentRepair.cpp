#include "SegmentRepair.h"

#include "FileError.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int64_t fileHeaderBytes = 8;
constexpr std::int64_t chunkHeaderBytes = 12;
// The data chunk starts with its edit count.
constexpr std::int64_t editCountBytes = 4;
// A chunk size the writer puts there before it knows the length.
constexpr std::int64_t unknownSize = -1;

[[noreturn]] void fail(int code, const QString& path)
{
    throw FileError(std::error_code(code, std::generic_category()), path);
}

[[noreturn]] void notCaf(const QString& path)
{
    fail(int(std::errc::illegal_byte_sequence), path);
}

std::uint64_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads exactly `count` bytes at `offset`; false at the end of the file.
bool readAt(int fd, void* into, std::size_t count, std::int64_t offset, const QString& path)
{
    auto* out = static_cast<unsigned char*>(into);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, out + done, count - done, off_t(offset + std::int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, path);
        if (n == 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

void writeAt(int fd, const unsigned char* bytes, std::size_t count, std::int64_t offset, const QString& path)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, bytes + done, count - done, off_t(offset + std::int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(errno, path);
        done += std::size_t(n);
    }
}

// A properly closed file may carry chunks after its audio; a torn one has only samples there.
bool chunkFollows(int fd, std::int64_t offset, std::int64_t fileSize, const QString& path)
{
    std::array<unsigned char, chunkHeaderBytes> header {};
    if (offset + chunkHeaderBytes > fileSize || !readAt(fd, header.data(), header.size(), offset, path))
        return false;
    for (int i = 0; i < 4; ++i) {
        if (header[i] < 0x20 || header[i] > 0x7e)
            return false;
    }
    return offset + chunkHeaderBytes + std::int64_t(bigEndian(header.data() + 4, 8)) == fileSize;
}

struct Fd {
    int fd;
    ~Fd() { ::close(fd); }
};

}

SegmentRepair::Result SegmentRepair::repair(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const Fd file { ::open(name.constData(), O_RDWR | O_CLOEXEC) };
    if (file.fd < 0)
        fail(errno, path);
    struct stat info { };
    if (::fstat(file.fd, &info) < 0)
        fail(errno, path);
    const std::int64_t fileSize = info.st_size;

    std::array<unsigned char, fileHeaderBytes> magic {};
    if (!readAt(file.fd, magic.data(), magic.size(), 0, path) || std::memcmp(magic.data(), "caff", 4) != 0)
        notCaf(path);

    Result result;
    std::uint32_t bytesPerFrame = 0;
    std::int64_t offset = fileHeaderBytes;
    for (;;) {
        std::array<unsigned char, chunkHeaderBytes> header {};
        if (!readAt(file.fd, header.data(), header.size(), offset, path))
            notCaf(path);
        const std::int64_t size = std::int64_t(bigEndian(header.data() + 4, 8));
        const std::int64_t payload = offset + chunkHeaderBytes;
        if (std::memcmp(header.data(), "desc", 4) == 0) {
            std::array<unsigned char, 32> desc {};
            if (size < std::int64_t(desc.size()) || !readAt(file.fd, desc.data(), desc.size(), payload, path))
                notCaf(path);
            const std::uint64_t rateBits = bigEndian(desc.data(), 8);
            std::memcpy(&result.sampleRate, &rateBits, sizeof rateBits);
            if (std::memcmp(desc.data() + 8, "lpcm", 4) != 0)
                notCaf(path);
            // The description: rate, format, flags, bytes per packet, frames per packet, channels, bits per channel.
            bytesPerFrame = std::uint32_t(bigEndian(desc.data() + 16, 4));
            result.channels = std::uint32_t(bigEndian(desc.data() + 24, 4));
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            if (bytesPerFrame == 0)
                notCaf(path);
            const std::int64_t audio = payload + editCountBytes;
            const std::int64_t declaredEnd = payload + size;
            const bool closed = size != unknownSize && declaredEnd <= fileSize
                && (declaredEnd == fileSize || chunkFollows(file.fd, declaredEnd, fileSize, path));
            if (closed) {
                result.frames = std::uint64_t(std::max<std::int64_t>(size - editCountBytes, 0)) / bytesPerFrame;
                return result;
            }
            result.frames = std::uint64_t(std::max<std::int64_t>(fileSize - audio, 0)) / bytesPerFrame;
            const std::int64_t newSize = editCountBytes + std::int64_t(result.frames) * bytesPerFrame;
            std::array<unsigned char, 8> sizeBytes {};
            for (int i = 0; i < 8; ++i)
                sizeBytes[std::size_t(i)] = (unsigned char)(std::uint64_t(newSize) >> (56 - 8 * i));
            writeAt(file.fd, sizeBytes.data(), sizeBytes.size(), offset + 4, path);
            if (::ftruncate(file.fd, off_t(payload + newSize)) < 0 || ::fsync(file.fd) < 0)
                fail(errno, path);
            result.repaired = true;
            return result;
        }
        if (size < 0)
            notCaf(path);
        offset = payload + size;
    }
}
