#include "output/picture_files.h"

#include <dirent.h>
#include <sys/stat.h>

#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "platform/file_util.h"

namespace {

constexpr std::string_view kSizeFolders[SizeCount] = {"small", "medium", "big", "large"};

}  // namespace

std::string_view PictureFolderName(int sizeIndex) {
    return sizeIndex >= 0 && sizeIndex < SizeCount ? kSizeFolders[sizeIndex] : std::string_view();
}

std::string RelativePicturePath(std::string_view photoId, int sizeIndex, char separator) {
    if (!IsSafeFileId(photoId) || PictureFolderName(sizeIndex).empty()) return "";
    std::string path = "pictures";
    path += separator;
    path += PictureFolderName(sizeIndex);
    path += separator;
    path += photoId;
    path += ".jpg";
    return path;
}

PicturesOnDisk::PicturesOnDisk(std::string_view userFolder) {
    for (int size = 0; size < SizeCount; ++size) {
        const std::string folder = ToOsPath(JoinPath(JoinPath(userFolder, "pictures"), kSizeFolders[size]));
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.size() <= 4 || name.substr(name.size() - 4) != ".jpg") continue;
            bool regular = entry->d_type == DT_REG;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat info {};
                regular =
                    ::lstat((folder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
            }
            if (regular) names_[size].emplace(name.substr(0, name.size() - 4));
        }
        ::closedir(dir);
    }
}

bool PicturesOnDisk::Has(std::string_view photoId, int sizeIndex) const {
    if (sizeIndex < 0 || sizeIndex >= SizeCount || !IsSafeFileId(photoId)) return false;
    return names_[sizeIndex].find(photoId) != names_[sizeIndex].end();
}
