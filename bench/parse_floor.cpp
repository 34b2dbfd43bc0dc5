// The floor of a local rebuild: load every cached answer below a folder with TinyXML and walk it.
#include <tinyxml.h>

#include <cstdio>
#include <filesystem>

namespace {

long Walk(const TiXmlNode* node) {
    long count = 0;
    for (const TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement()) {
        for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
            count += a->ValueStr().size() > 0;
        count += 1 + Walk(e);
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: parse_floor FOLDER\n");
        return 2;
    }
    long files = 0, items = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1])) {
        if (entry.path().extension() != ".xml") continue;
        TiXmlDocument document;
        if (document.LoadFile(entry.path().c_str(), TIXML_ENCODING_UNKNOWN)) items += Walk(&document);
        ++files;
    }
    std::printf("files: %ld items: %ld\n", files, items);
    return 0;
}
