#include "sample_world.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

// Users by index: their names, ids and the digit that starts their album and photo numbers.
struct UserEntry {
    const char* name;
    const char* id;
};
constexpr UserEntry kUsers[] = {{"demo", "10001@N01"}, {"empty", "10002@N01"}, {"big", "10003@N01"}};
constexpr int kDemo = 0;
[[maybe_unused]] constexpr int kEmpty = 1;  // named for the table; no code asks for it
constexpr int kBig = 2;
constexpr int kUserCount = 3;

struct DemoAlbum {
    const char* title;
    const char* description;
    int listed;
    int announced;
};
// The one album without photos and the one announcing more photos than its list holds are on purpose.
constexpr DemoAlbum kDemoAlbums[] = {
    {"西湖春游", "三月的杭州，桃花开满苏堤。", 5, 5},  {"故宫一日", "从午门走到神武门。", 8, 8},
    {"家乡的小河", "小时候常在这里捉鱼。", 3, 3},      {"空相册", "还没有上传照片。", 0, 0},
    {"黄山云海", "部分照片已被删除。", 4, 7},          {"毕业典礼", "2008 届，再见了母校。", 6, 6},
    {"猫咪日常", "家里的两只猫：花花 & 小黑。", 4, 4}, {"美食记录", "各地小吃，边走边吃。", 7, 7},
    {"长城脚下", "慕田峪长城，秋天。", 3, 3},          {"雪后的北京", "2009 年的第一场雪。", 5, 5},
    {"海边日落", "厦门环岛路的傍晚。", 6, 6},          {"老照片", "爷爷奶奶年轻时的照片。", 8, 8},
};
constexpr int kDemoAlbumCount = sizeof(kDemoAlbums) / sizeof(kDemoAlbums[0]);

constexpr const char* kPhotoTitles[] = {"清晨", "远眺", "合影", "小路", "细节", "傍晚", "回望", "留念"};
constexpr const char* kPhotoDescriptions[] = {
    "天气很好，光线柔和。",     "这是我最喜欢的一张。", "",
    "人很多，等了很久才拍到。", "用三脚架拍的。",       "颜色没有调整过。",
    "<原图> 略有模糊",          "下次还要再来！",
};

const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n";

uint32_t Fnv1a(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

std::string Padded(int number, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, number);
    return buffer;
}

// Album ids are "72157", the user digit and a five-digit album number (from 1); photo ids are the user
// digit, the album number and a five-digit photo number (from 1).
std::string AlbumId(int user, int album) {
    return "72157" + std::to_string(user + 1) + Padded(album + 1, 5);
}
std::string PhotoId(int user, int album, int photo) {
    return std::to_string(user + 1) + Padded(album + 1, 5) + Padded(photo + 1, 5);
}

bool ParseNumber(std::string_view digits, int& number) {
    if (digits.empty()) return false;
    number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    return true;
}

// Splits an id made of a user digit and five-digit numbers into zero-based indexes.
bool ParseIdNumbers(std::string_view text, int& user, int* numbers, int count) {
    if (text.size() != static_cast<size_t>(1 + 5 * count) || !ParseNumber(text.substr(0, 1), user))
        return false;
    user -= 1;
    for (int i = 0; i < count; ++i) {
        if (!ParseNumber(text.substr(1 + 5 * i, 5), numbers[i]) || numbers[i] == 0) return false;
        numbers[i] -= 1;
    }
    return user >= 0 && user < kUserCount;
}

std::string Secret(const std::string& photoId) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x%02x", Fnv1a(photoId), Fnv1a(photoId + "s") & 0xff);
    return buffer;
}

std::string Dir(const std::string& photoId) {
    return std::to_string(1000 + Fnv1a(photoId) % 9000);
}

std::string OkAnswer(const std::string& inner) {
    return kXmlDeclaration + ("<rsp stat=\"ok\">\n" + inner + "</rsp>\n");
}

}  // namespace

SampleWorld::SampleWorld(SampleWorldSize size, std::set<std::string> removed,
                         std::map<std::string, std::string> titles)
    : size_(size), removed_(std::move(removed)), titles_(std::move(titles)) {}

std::string SampleWorld::Answer(const std::string& method, const std::string& value) const {
    if (method == "zorbi.people.findByUsername") return FindByUsername(value);
    if (method == "zorbi.albums.getList") return GetList(value);
    if (method == "zorbi.albums.getPhotos") return GetPhotos(value);
    if (method == "zorbi.photos.getInfo") return GetInfo(value);
    return ErrorAnswer(112, "Method \"" + method + "\" not found");
}

int SampleWorld::UserIndexById(const std::string& userId) const {
    for (int user = 0; user < kUserCount; ++user)
        if (userId == kUsers[user].id) return user;
    return -1;
}

int SampleWorld::AlbumCount(int user) const {
    if (user == kDemo) return kDemoAlbumCount;
    if (user == kBig) return size_.bigAlbums + (size_.bigExtraPhotos > 0 ? 1 : 0);
    return 0;
}

int SampleWorld::ListedPhotos(int user, int album) const {
    if (user == kDemo) return kDemoAlbums[album].listed;
    return album < size_.bigAlbums ? size_.bigPhotos : size_.bigExtraPhotos;
}

int SampleWorld::AnnouncedPhotos(int user, int album) const {
    return (user == kDemo ? kDemoAlbums[album].announced : ListedPhotos(user, album)) -
           RemovedPhotos(user, album);
}

int SampleWorld::RemovedPhotos(int user, int album) const {
    int removed = 0;
    for (int photo = 0; photo < ListedPhotos(user, album) && !removed_.empty(); ++photo)
        removed += removed_.count(PhotoId(user, album, photo)) ? 1 : 0;
    return removed;
}

std::string SampleWorld::TitleOf(const std::string& id, const std::string& title) const {
    const auto given = titles_.find(id);
    return given == titles_.end() ? title : given->second;
}

std::string SampleWorld::FindByUsername(const std::string& userName) const {
    for (const UserEntry& user : kUsers) {
        if (userName != user.name) continue;
        return OkAnswer(std::string("<user id=\"") + user.id + "\" nsid=\"" + user.id + "\">\n<username>" +
                        user.name + "</username>\n</user>\n");
    }
    return ErrorAnswer(1, "User not found");
}

std::string SampleWorld::GetList(const std::string& userId) const {
    const int user = UserIndexById(userId);
    if (user < 0) return ErrorAnswer(1, "User not found");
    std::string inner = "<albums>\n";
    for (int album = 0; album < AlbumCount(user); ++album) {
        if (removed_.count(AlbumId(user, album))) continue;
        const bool demo = user == kDemo;
        const std::string title = TitleOf(
            AlbumId(user, album), demo ? kDemoAlbums[album].title : "相册 " + std::to_string(album + 1));
        const std::string description = demo ? kDemoAlbums[album].description : "自动生成的相册。";
        inner += "<album id=\"" + AlbumId(user, album) + "\" photos=\"" +
                 std::to_string(AnnouncedPhotos(user, album)) + "\">\n<title>" + XmlEscape(title) +
                 "</title>\n<description>" + XmlEscape(description) + "</description>\n</album>\n";
    }
    return OkAnswer(inner + "</albums>\n");
}

std::string SampleWorld::GetPhotos(const std::string& albumId) const {
    int user = 0;
    int album = 0;
    if (albumId.rfind("72157", 0) != 0 ||
        !ParseIdNumbers(std::string_view(albumId).substr(5), user, &album, 1) || album >= AlbumCount(user) ||
        removed_.count(albumId))
        return ErrorAnswer(1, "Album not found");
    std::string inner = "<album id=\"" + albumId + "\">\n<photos>\n";
    for (int photo = 0; photo < ListedPhotos(user, album); ++photo) {
        const std::string id = PhotoId(user, album, photo);
        if (removed_.count(id)) continue;
        const std::string title = TitleOf(
            id, user == kDemo ? kPhotoTitles[(album + photo) % 8] : "照片 " + std::to_string(photo + 1));
        inner += "<photo id=\"" + id + "\" dir=\"" + Dir(id) + "\" filename=\"" + id + "_" + Secret(id) +
                 "\" title=\"" + XmlEscape(title) + "\"/>\n";
    }
    return OkAnswer(inner + "</photos>\n</album>\n");
}

std::string SampleWorld::GetInfo(const std::string& photoId) const {
    int user = 0;
    int numbers[2] = {0, 0};
    if (!ParseIdNumbers(photoId, user, numbers, 2) || numbers[0] >= AlbumCount(user) ||
        numbers[1] >= ListedPhotos(user, numbers[0]) || removed_.count(photoId))
        return ErrorAnswer(1, "Photo not found");
    const int album = numbers[0];
    const int photo = numbers[1];
    const bool demo = user == kDemo;
    const std::string title =
        TitleOf(photoId, demo ? kPhotoTitles[(album + photo) % 8] : "照片 " + std::to_string(photo + 1));
    const std::string description =
        demo ? kPhotoDescriptions[(album * 3 + photo) % 8]
             : "第 " + std::to_string(album + 1) + " 个相册的第 " + std::to_string(photo + 1) + " 张照片。";
    return OkAnswer("<photo id=\"" + photoId + "\" secret=\"" + Secret(photoId) + "\" dir=\"" + Dir(photoId) +
                    "\">\n<owner username=\"" + kUsers[user].name + "\"/>\n<title>" + XmlEscape(title) +
                    "</title>\n<description>" + XmlEscape(description) + "</description>\n</photo>\n");
}

std::string QueryKeyOf(const std::string& method) {
    if (method == "zorbi.people.findByUsername") return "username";
    if (method == "zorbi.albums.getList") return "user_id";
    if (method == "zorbi.albums.getPhotos") return "album_id";
    if (method == "zorbi.photos.getInfo") return "photo_id";
    return "";
}

std::string ErrorAnswer(int code, const std::string& message) {
    return kXmlDeclaration + ("<rsp stat=\"fail\">\n<err code=\"" + std::to_string(code) + "\" msg=\"" +
                              XmlEscape(message) + "\"/>\n</rsp>\n");
}

std::string XmlEscape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

namespace {

uint32_t Crc32(std::string_view bytes) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

void AppendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

void AppendChunk(std::string& png, const char* type, const std::string& data) {
    AppendBigEndian(png, static_cast<uint32_t>(data.size()));
    const std::string typed = type + data;
    png += typed;
    AppendBigEndian(png, Crc32(typed));
}

// Deflate data of stored (uncompressed) blocks: valid everywhere and needs no compressor.
std::string StoredDeflate(const std::string& raw) {
    std::string out;
    size_t offset = 0;
    do {
        const size_t length = std::min<size_t>(65535, raw.size() - offset);
        const bool last = offset + length == raw.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(length & 0xff);
        out += static_cast<char>(length >> 8);
        out += static_cast<char>(~length & 0xff);
        out += static_cast<char>((~length >> 8) & 0xff);
        out.append(raw, offset, length);
        offset += length;
    } while (offset < raw.size());
    return out;
}

std::string StoredZlib(const std::string& raw) {
    std::string out = "\x78\x01" + StoredDeflate(raw);
    uint32_t a = 1;
    uint32_t b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    AppendBigEndian(out, (b << 16) | a);
    return out;
}

}  // namespace

std::string PictureBytes(const std::string& seed, int sizeIndex) {
    static constexpr int kWidths[] = {60, 120, 240, 400};
    const int width = kWidths[sizeIndex];
    const int height = width * 3 / 4;
    const uint32_t hash = Fnv1a(seed);

    std::string header;
    AppendBigEndian(header, static_cast<uint32_t>(width));
    AppendBigEndian(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x03\x00\x00\x00", 5);  // 8-bit palette, no interlace

    // Background, a darker stripe, a frame and a lighter spot, all from the seed.
    std::string palette;
    const int red = 64 + hash % 160;
    const int green = 64 + (hash >> 8) % 160;
    const int blue = 64 + (hash >> 16) % 160;
    for (int shade : {0, -50, -64, 40}) {
        for (int channel : {red, green, blue})
            palette += static_cast<char>(std::clamp(channel + shade, 0, 255));
    }

    std::string raw;
    raw.reserve(static_cast<size_t>((width + 1) * height));
    for (int y = 0; y < height; ++y) {
        raw += '\0';  // filter type "none"
        for (int x = 0; x < width; ++x) {
            char index = 0;
            if (x < 2 || y < 2 || x >= width - 2 || y >= height - 2)
                index = 2;
            else if (((x + y + static_cast<int>(hash >> 24)) / (width / 8)) % 2 == 0)
                index = 1;
            const int dx = x - width * 2 / 3;
            const int dy = y - height / 3;
            if (dx * dx + dy * dy < width * width / 64) index = 3;
            raw += index;
        }
    }

    std::string png = "\x89PNG\r\n\x1a\n";
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "PLTE", palette);
    AppendChunk(png, "IDAT", StoredZlib(raw));
    AppendChunk(png, "IEND", "");
    return png;
}

std::string GzipBytes(const std::string& raw) {
    std::string gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);  // no name, no time, unknown OS
    gzip += StoredDeflate(raw);
    const uint32_t trailer[] = {Crc32(raw), static_cast<uint32_t>(raw.size())};
    for (uint32_t value : trailer)
        for (int shift = 0; shift < 32; shift += 8) gzip += static_cast<char>((value >> shift) & 0xff);
    return gzip;
}

namespace {

void AppendSegment(std::string& jpeg, unsigned char marker, const std::string& data) {
    const size_t length = data.size() + 2;
    jpeg += '\xff';
    jpeg += static_cast<char>(marker);
    jpeg += static_cast<char>(length >> 8);
    jpeg += static_cast<char>(length & 0xff);
    jpeg += data;
}

// Entropy-coded data: bits from the most significant end, a zero byte stuffed after every 0xff.
class BitWriter {
  public:
    void Put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<unsigned char>((current_ << 1) | ((bits >> i) & 1));
            if (++filled_ == 8) Flush();
        }
    }
    std::string Finish() {
        while (filled_ != 0) Put(1, 1);  // pad with one bits
        return std::move(out_);
    }

  private:
    void Flush() {
        out_ += static_cast<char>(current_);
        if (current_ == 0xff) out_ += '\0';
        current_ = 0;
        filled_ = 0;
    }
    std::string out_;
    unsigned char current_ = 0;
    int filled_ = 0;
};

struct YCbCr {
    int y;
    int cb;
    int cr;
};

YCbCr ToYCbCr(int red, int green, int blue) {
    return {(299 * red + 587 * green + 114 * blue) / 1000,
            128 + (-169 * red - 331 * green + 500 * blue) / 1000,
            128 + (500 * red - 419 * green - 81 * blue) / 1000};
}

// DC difference categories: 0 has the one-bit code 0, categories 1..11 the five-bit codes 10000..11010.
// Every coefficient but DC is zero, so the only AC symbol is end-of-block, with the one-bit code 0.
void PutBlock(BitWriter& bits, int difference) {
    const int magnitude = difference < 0 ? -difference : difference;
    int category = 0;
    while ((magnitude >> category) != 0) ++category;
    if (category == 0) {
        bits.Put(0, 1);
    } else {
        bits.Put(0x10 + category - 1, 5);
        const int extra = difference < 0 ? difference + (1 << category) - 1 : difference;
        bits.Put(static_cast<uint32_t>(extra), category);
    }
    bits.Put(0, 1);  // end of block
}

}  // namespace

std::string JpegPictureBytes(const std::string& seed, int sizeIndex, size_t totalBytes) {
    // Small enough that the bare picture stays under 1 KiB; the padding makes up the size.
    static constexpr int kWidths[] = {32, 64, 128, 160};
    const int width = kWidths[sizeIndex];
    const int height = width * 3 / 4;
    const uint32_t hash = Fnv1a(seed + "#" + std::to_string(sizeIndex));
    const int red = 64 + hash % 160;
    const int green = 64 + (hash >> 8) % 160;
    const int blue = 64 + (hash >> 16) % 160;
    const YCbCr colours[] = {ToYCbCr(red, green, blue), ToYCbCr(red * 3 / 5, green * 3 / 5, blue * 3 / 5)};

    std::string frame;
    std::string quantisation(1, '\0');
    // Every step 8: a block's one DC value is then its sample value minus 128.
    quantisation.append(64, '\x08');
    AppendSegment(frame, 0xdb, quantisation);
    std::string start("\x08", 1);
    for (int value : {height, width}) {
        start += static_cast<char>(value >> 8);
        start += static_cast<char>(value & 0xff);
    }
    start += std::string("\x03\x01\x11\x00\x02\x11\x00\x03\x11\x00", 10);  // Y, Cb, Cr, no subsampling
    AppendSegment(frame, 0xc0, start);
    std::string tables("\x00\x01\x00\x00\x00\x0b", 6);  // DC table 0: one code of 1 bit, 11 of 5 bits
    tables.append(11, '\0');
    for (int category = 0; category <= 11; ++category) tables += static_cast<char>(category);
    tables += std::string("\x10\x01", 2);  // AC table 0: one code of 1 bit, for end-of-block
    tables.append(15, '\0');
    tables += '\0';
    AppendSegment(frame, 0xc4, tables);
    AppendSegment(frame, 0xda, std::string("\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00", 10));

    // Diagonal stripes of the colour and a darker shade, one block wide each four.
    BitWriter bits;
    int previous[3] = {0, 0, 0};
    const int shift = static_cast<int>(hash >> 24);
    for (int row = 0; row < (height + 7) / 8; ++row) {
        for (int column = 0; column < (width + 7) / 8; ++column) {
            const YCbCr& colour = colours[(row + column + shift) % 4 == 0 ? 1 : 0];
            const int values[3] = {colour.y, colour.cb, colour.cr};
            for (int component = 0; component < 3; ++component) {
                const int dc = std::clamp(values[component], 0, 255) - 128;
                PutBlock(bits, dc - previous[component]);
                previous[component] = dc;
            }
        }
    }
    frame += bits.Finish();
    frame += "\xff\xd9";

    std::string jpeg("\xff\xd8", 2);
    AppendSegment(jpeg, 0xe0, std::string("JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 14));
    // Comment segments of deterministic bytes before the frame make up the size; a segment holds at
    // most 65533 bytes and costs 4 more, so the last two share what is left when it is 1..3 bytes over.
    size_t missing = totalBytes > jpeg.size() + frame.size() ? totalBytes - jpeg.size() - frame.size() : 0;
    uint32_t state = Fnv1a(seed + "@" + std::to_string(sizeIndex) + "@" + std::to_string(totalBytes)) | 1;
    while (missing >= 4) {
        size_t length = std::min<size_t>(65533, missing - 4);
        const size_t left = missing - 4 - length;
        if (left > 0 && left < 4) length -= 4;
        std::string comment(length, '\0');
        for (char& byte : comment) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<char>(state % 255);  // never 0xff, which only confuses marker scanners
        }
        AppendSegment(jpeg, 0xfe, comment);
        missing -= length + 4;
    }
    return jpeg + frame;
}
