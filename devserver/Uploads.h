#pragma once

#include "Store.h"

#include <cstdint>
#include <optional>
#include <string>

// Client tokens for the blob store, each good for one path name for a while,
// and who uploaded which blob.
class Uploads {
public:
    struct Timings {
        int clientTokenSeconds = 600;
    };

    enum class Check { Valid, Unknown, Expired, OtherPathname };
    struct Grant {
        Check check = Check::Unknown;
        std::string accountId;
    };

    struct Blob {
        std::string accountId;
        std::uint64_t size = 0;
        std::string contentType;
    };

    Uploads(Store& store, Timings timings);

    std::string issueClientToken(const std::string& accountId, const std::string& pathname);
    [[nodiscard]] Grant checkClientToken(const std::string& token, const std::string& pathname);

    void recordBlob(
        const std::string& pathname, const std::string& accountId, std::uint64_t size, const std::string& contentType);
    [[nodiscard]] std::optional<Blob> blob(const std::string& pathname);

private:
    Store& m_store;
    Timings m_timings;
};
