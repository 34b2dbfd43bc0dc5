#include "output/gallery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>

#include "archive/ledger.h"
#include "output/gallery_pages.h"
#include "output/gallery_resources.h"
#include "output/image_files.h"
#include "output/picture_files.h"
#include "platform/codepage.h"
#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

// The box thumbnails are made to fit: the size of the service's small pictures.
constexpr int kThumbBox = 240;
// Raised whenever the pages' markup changes, so that galleries built before are built again.
constexpr std::string_view kPageFormat = "gallery 1";
constexpr const char* kStampFile = ".built";

// What the pages are made from besides the ledger: the markup's version and the compiled-in files.
std::string BuildFingerprint() {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const std::string_view part : {kPageFormat, kGalleryCss, kGalleryJs}) {
        for (const char c : part) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return Format("%s %016llx", std::string(kPageFormat).c_str(), static_cast<unsigned long long>(hash));
}

// The folder that holds `path`.
std::string ParentFolder(std::string_view path) {
    while (path.size() > 1 && path.back() == kPathSeparator) path.remove_suffix(1);
    const size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string_view::npos) return ".";
    return slash == 0 ? std::string(1, kPathSeparator) : std::string(path.substr(0, slash));
}

// The names in a folder (OS bytes), "." and ".." left out; empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(ToOsPath(folder).c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// Writes the file unless it already holds these bytes, counting it when it was written. False, with
// errno set, when the write fails.
bool WriteIfChanged(const std::string& path, std::string_view contents, int* written) {
    bool replaced = false;
    if (!WriteFileAtomic(path, contents, 0644, &replaced)) return false;
    if (replaced && written) ++*written;
    return true;
}

// The stored pictures of one photo.
struct PhotoPictures {
    bool stored[SizeCount] = {};
    ImageSize size[SizeCount];
    std::string sha256[SizeCount];
    std::string thumbName;  // under thumbs/, when one is made from a larger size
    bool thumbFailed = false;

    int Largest() const {
        for (int size = SizeCount - 1; size >= 0; --size)
            if (stored[size]) return size;
        return -1;
    }
};

class GalleryBuilder {
  public:
    GalleryBuilder(const std::string& userFolder, const std::string& userName, Ledger& ledger)
        : userFolder_(userFolder),
          folder_(GalleryFolder(userFolder)),
          thumbsFolder_(JoinPath(folder_, "thumbs")),
          userName_(GbkToUtf8(userName)),
          ledger_(ledger) {}

    GalleryBuild Run() {
        if (!MakeDirectories(thumbsFolder_))
            return Failed(Format(GBK("无法创建文件夹：%s（%s）").c_str(), thumbsFolder_.c_str(),
                                 SystemErrorText(errno).c_str()));
        const std::string stampPath = JoinPath(folder_, kStampFile);
        std::string lastStamp, stamp = Stamp();
        ReadWholeFile(stampPath, lastStamp);
        if (!stamp.empty() && lastStamp == stamp && FileExists(JoinPath(folder_, "index.html"))) {
            result_.unchanged = true;
        } else {
            RemoveStaleTemporaryFiles(folder_);
            RemoveStaleTemporaryFiles(thumbsFolder_);
            if (!Gather()) return Failed(ledger_.error());
            ReadDimensions();
            MakeThumbnails();
            if (!WritePages()) return result_;
            if (!readDimensions_.empty()) {
                if (!RecordDimensions()) return Failed(ledger_.error());
                stamp = Stamp();
            }
            // Written last, from the ledger as this build leaves it: a build cut short is done again.
            if (!WriteFileAtomic(stampPath, stamp)) return Failed(WriteFailedText(stampPath, errno));
        }
        const std::string list = WriteGalleryList(ParentFolder(userFolder_), &result_.filesWritten);
        if (!list.empty()) return Failed(list);
        return result_;
    }

  private:
    GalleryBuild Failed(std::string text) {
        result_.failure = std::move(text);
        return result_;
    }

    std::string Stamp() {
        const std::string ledgerStamp = ledger_.ChangeStamp();
        if (ledgerStamp.empty()) return "";
        return BuildFingerprint() + "\n" + userName_ + "\n" + ledgerStamp + "\n";
    }

    bool Gather() {
        albums_ = ledger_.Albums();
        photos_ = ledger_.Photos();
        const auto pictures = ledger_.Pictures();
        if (ledger_.failed()) return false;
        // The ledger says what was stored; the disk whether it is still there.
        const PicturesOnDisk disk(userFolder_);
        for (const auto& [key, picture] : pictures) {
            const auto& [photo, size] = key;
            if (size < 0 || size >= SizeCount || !disk.Has(photo, size)) continue;
            PhotoPictures& stored = pictures_[photo];
            stored.stored[size] = true;
            stored.size[size] = {picture.width, picture.height};
            stored.sha256[size] = picture.sha256;
        }
        return true;
    }

    std::string PicturePathOf(const std::string& photo, int size) const {
        return JoinPath(userFolder_, RelativePicturePath(photo, size, kPathSeparator));
    }

    void ReadDimensions() {
        struct Wanted {
            const std::string* photo;
            PhotoPictures* stored;
            int size;
            bool read = false;
        };
        std::vector<Wanted> wanted;
        for (auto& [photo, stored] : pictures_)
            for (int size = 0; size < SizeCount; ++size)
                if (stored.stored[size] && stored.size[size].width <= 0)
                    wanted.push_back({&photo, &stored, size});
        ForEachInParallel(wanted.size(), [&](size_t i) {
            Wanted& picture = wanted[i];
            if (const auto size = ReadImageSize(PicturePathOf(*picture.photo, picture.size))) {
                picture.stored->size[picture.size] = *size;
                picture.read = true;
            }
        });
        for (const Wanted& picture : wanted)
            if (picture.read)
                readDimensions_.push_back({*picture.photo, picture.size, picture.stored->size[picture.size]});
        result_.dimensionsRead = static_cast<int>(readDimensions_.size());
    }

    void MakeThumbnails() {
        const std::vector<std::string> present = FolderNames(thumbsFolder_);
        const std::set<std::string> existing(present.begin(), present.end());
        std::set<std::string> wanted;
        std::vector<std::pair<const std::string*, PhotoPictures*>> toMake;
        for (auto& [photo, stored] : pictures_) {
            const int largest = stored.Largest();
            if (stored.stored[0] || largest < 0) continue;
            // Named after the source's checksum: a thumbnail is made again exactly when its source changes.
            stored.thumbName = photo + "-" + stored.sha256[largest].substr(0, 16) + ".jpg";
            wanted.insert(stored.thumbName);
            if (!existing.count(stored.thumbName)) toMake.emplace_back(&photo, &stored);
        }
        ForEachInParallel(toMake.size(), [&](size_t i) {
            const auto& [photo, stored] = toMake[i];
            stored->thumbFailed = !MakeThumbnail(PicturePathOf(*photo, stored->Largest()),
                                                 JoinPath(thumbsFolder_, stored->thumbName), kThumbBox);
        });
        for (const auto& [photo, stored] : toMake)
            ++(stored->thumbFailed ? result_.thumbnailsFailed : result_.thumbnailsMade);
        // Thumbnails of replaced pictures, or of photos whose small size has arrived since.
        for (const std::string& name : existing)
            if (!wanted.count(name) && name.size() > 4 && name.substr(name.size() - 4) == ".jpg")
                ::unlink(ToOsPath(JoinPath(thumbsFolder_, name)).c_str());
    }

    GalleryPhoto PhotoOnPage(const LedgerPhoto& photo) const {
        GalleryPhoto shown;
        shown.photo = &photo;
        if (!photo.removedAt.empty()) shown.removedDate = LocalDate(photo.removedAt);
        const auto found = pictures_.find(photo.id);
        const PhotoPictures* stored = found == pictures_.end() ? nullptr : &found->second;
        const int largest = stored ? stored->Largest() : -1;
        if (largest < 0) {
            // Not backed up: the service's addresses, so the page is still whole online.
            if (ServiceAddress(photo.address).empty()) return shown;
            for (int size = 0; size < SizeCount; ++size)
                shown.sizes[size] = ServiceAddress(PictureAddress(photo.address, size));
            shown.thumb = shown.sizes[0];
            shown.thumbSize = {kThumbBox, kThumbBox};
            shown.full = shown.sizes[2];
            return shown;
        }
        shown.backedUp = true;
        for (int size = 0; size < SizeCount; ++size)
            if (stored->stored[size]) shown.sizes[size] = "../" + RelativePicturePath(photo.id, size, '/');
        shown.full = shown.sizes[largest];
        std::vector<std::pair<std::string, int>> candidates;  // address, width
        if (stored->stored[0]) {
            shown.thumb = shown.sizes[0];
            shown.thumbSize = stored->size[0];
        } else if (!stored->thumbFailed) {
            shown.thumb = "thumbs/" + stored->thumbName;
            shown.thumbSize = ThumbnailSize(stored->size[largest], kThumbBox);
            candidates.emplace_back(shown.thumb, shown.thumbSize.width);
        } else {
            shown.thumb = shown.full;
            shown.thumbSize = stored->size[largest];
        }
        if (shown.thumbSize.width <= 0 || shown.thumbSize.height <= 0)
            shown.thumbSize = {kThumbBox, kThumbBox};
        for (int size = 0; size < SizeCount; ++size)
            if (stored->stored[size] && stored->size[size].width > 0)
                candidates.emplace_back(shown.sizes[size], stored->size[size].width);
        if (candidates.size() > 1) {
            for (const auto& [address, width] : candidates)
                shown.srcset +=
                    (shown.srcset.empty() ? "" : ", ") + address + " " + std::to_string(width) + "w";
        }
        return shown;
    }

    std::vector<GalleryAlbum> Compose() const {
        std::vector<GalleryAlbum> albums;
        std::unordered_map<std::string, size_t> byId;
        for (const LedgerAlbum& album : albums_) {
            GalleryAlbum shown;
            shown.album = &album;
            shown.page = AlbumPageName(album.id);
            if (!album.removedAt.empty()) shown.removedDate = LocalDate(album.removedAt);
            byId.emplace(album.id, albums.size());
            albums.push_back(std::move(shown));
        }
        for (const LedgerPhoto& photo : photos_) {
            const auto album = byId.find(photo.album);
            if (album != byId.end()) albums[album->second].photos.push_back(PhotoOnPage(photo));
        }
        return albums;
    }

    bool Write(const std::string& name, std::string_view contents) {
        const std::string path = JoinPath(folder_, name);
        if (WriteIfChanged(path, contents, &result_.filesWritten)) return true;
        result_.failure = WriteFailedText(path, errno);
        return false;
    }

    bool WritePages() {
        const std::vector<GalleryAlbum> albums = Compose();
        if (!Write("gallery.css", kGalleryCss) || !Write("gallery.js", kGalleryJs) ||
            !Write("search.js", SearchIndex(albums)))
            return false;
        for (const GalleryAlbum& album : albums)
            if (!album.page.empty() && !Write(album.page, AlbumPage(userName_, album))) return false;
        // The user page last: a gallery whose index exists is a whole one.
        return Write("index.html", UserPage(userName_, albums));
    }

    bool RecordDimensions() {
        ledger_.Begin();
        for (const auto& [photo, size, dimensions] : readDimensions_)
            ledger_.RecordDimensions(photo, size, dimensions.width, dimensions.height);
        return ledger_.Commit();
    }

    struct ReadDimension {
        std::string photo;
        int size;
        ImageSize dimensions;
    };

    const std::string userFolder_, folder_, thumbsFolder_, userName_;
    Ledger& ledger_;
    GalleryBuild result_;
    std::vector<LedgerAlbum> albums_;
    std::vector<LedgerPhoto> photos_;
    std::map<std::string, PhotoPictures> pictures_;
    std::vector<ReadDimension> readDimensions_;
};

}  // namespace

std::string GalleryFolder(std::string_view userFolder) {
    return JoinPath(userFolder, "gallery");
}

GalleryBuild BuildGallery(const std::string& userFolder, const std::string& userName, Ledger& ledger) {
    return GalleryBuilder(userFolder, userName, ledger).Run();
}

std::string WriteGalleryList(const std::string& outputFolder, int* written) {
    std::vector<std::string> users;
    for (const std::string& name : FolderNames(outputFolder)) {
        // User names are GBK: a folder whose name is not one is no user's.
        if (name[0] == '.' || GbkToUtf8(Utf8ToGbk(name)) != name) continue;
        struct stat info {};
        const std::string index = ToOsPath(outputFolder) + "/" + name + "/gallery/index.html";
        if (::stat(index.c_str(), &info) == 0 && S_ISREG(info.st_mode)) users.push_back(name);
    }
    std::sort(users.begin(), users.end());
    const std::string path = JoinPath(outputFolder, "index.html");
    if (!WriteIfChanged(path, GalleryListPage(users), written)) return WriteFailedText(path, errno);
    return "";
}
