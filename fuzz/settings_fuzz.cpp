// AppSettings::Load on an arbitrary config.ini, then Save and Load again: the cuts hold, and what a save
// wrote is what the next load reads.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "catalogue/app_settings.h"
#include "fuzz_check.h"
#include "platform/file_util.h"

namespace {

// The folder of config.ini, removed when the fuzzer ends.
struct Folder {
    Folder() {
        path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/settings-fuzz-XXXXXX");
        if (!mkdtemp(path.data())) path.clear();
    }
    ~Folder() {
        if (path.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

bool Fits(const std::string& text) {
    return text.size() <= 255;
}

void CheckCuts(const AppSettings& s) {
    FUZZ_CHECK(Fits(s.proxyServer) && Fits(s.proxyUser) && Fits(s.proxyPassword));
    FUZZ_CHECK(Fits(s.skinFile) && Fits(s.customFormat));
    FUZZ_CHECK(s.pictureSizes < (1u << 4) && s.connections >= 1 && s.connections <= 16);
    FUZZ_CHECK(s.retries >= 0 && s.retries <= 10 && s.rate >= 0);
    FUZZ_CHECK(s.userCount >= 0 && s.userCount <= AppSettings::MaxUsers);
    for (int n = 0; n < AppSettings::MaxUsers; ++n) {
        FUZZ_CHECK(Fits(s.userNames[n]));
        FUZZ_CHECK(n < s.userCount ? !s.userNames[n].empty() : s.userNames[n].empty());
    }
}

void CheckSame(const AppSettings& a, const AppSettings& b) {
    FUZZ_CHECK(a.proxyServer == b.proxyServer);
    FUZZ_CHECK(a.proxyPort == b.proxyPort);
    FUZZ_CHECK(a.proxyUser == b.proxyUser);
    FUZZ_CHECK(a.proxyPassword == b.proxyPassword);
    FUZZ_CHECK(a.outputPath == b.outputPath);
    FUZZ_CHECK(a.skinFile == b.skinFile);
    FUZZ_CHECK(a.detailMode == b.detailMode);
    FUZZ_CHECK(a.customFormat == b.customFormat);
    FUZZ_CHECK(a.pictureSizes == b.pictureSizes && a.connections == b.connections);
    FUZZ_CHECK(a.retries == b.retries && a.rate == b.rate);
    FUZZ_CHECK(a.userCount == b.userCount);
    for (int n = 0; n < AppSettings::MaxUsers; ++n) FUZZ_CHECK(a.userNames[n] == b.userNames[n]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Folder folderOwner;
    const std::string& folder = folderOwner.path;
    if (folder.empty()) return 0;
    AppSettings loaded(folder);
    if (!WriteFileAtomic(loaded.ConfigPath(), std::string_view(reinterpret_cast<const char*>(data), size)))
        return 0;
    // Nothing but an output path that is no GBK text is refused.
    const std::string refusal = loaded.Load();
    FUZZ_CHECK(refusal.empty() || refusal.starts_with(AppSettings::UnsavablePathText("")));
    CheckCuts(loaded);
    FUZZ_CHECK(!loaded.outputPath.empty());

    FUZZ_CHECK(loaded.Save().empty());
    AppSettings reloaded(folder);
    reloaded.Load();
    CheckSame(loaded, reloaded);
    return 0;
}
