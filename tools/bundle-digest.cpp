// bundle-digest: gives every package of a bundle definition a sha256
// attribute holding its file's SHA-256 digest, or refreshes the one it has.
// The packages are found as an update finds them: beside the definition, or
// where relocation.xml beside it says. The definition is rewritten in place
// only when every package could be read; apart from the attributes, libxml2
// keeps it as it was (comments, blanks, attribute order).
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "BAAnyXMLDoc.h"
#include "BAXmlText.h"
#include "BundleDefinition.h"
#include "PackageFile.h"
#include "VorkAtomicFile.h"
#include "RelocationDefinition.h"
#include "VorkException.h"
#include "XPathNodeList.h"
#include "XmlOwnership.h"

namespace {

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// Sets the digests in the document; false when a package cannot be read.
bool setDigests(xmlDocPtr doc, const std::string& directory) {
    const std::string relocationFile = directory + "/relocation.xml";
    RelocationDefinition relocation(exists(relocationFile) ? relocationFile : "", directory);
    bool complete = true;
    for (xmlNodePtr package : XPathNodeList(doc, "/SoftwareBundle/Contents/Package")) {
        const std::string name = BAAnyXMLDoc::getStringAttribute(package, "path");
        const std::string file = relocation.packageLocation(BundleDefinition::packageKey(package)) + "/" + name;
        const PackageFile packageFile(file);
        if (packageFile.sha256().empty()) {
            std::fprintf(stderr, "bundle-digest: %s: %s\n", file.c_str(),
                         packageFile.missing() ? "no such file" : packageFile.problem().c_str());
            complete = false;
            continue;
        }
        BAAnyXMLDoc::setStringAttribute(package, "sha256", packageFile.sha256());
        std::printf("%s  %s\n", packageFile.sha256().c_str(), name.c_str());
    }
    return complete;
}

int run(const std::string& definition) {
    const XmlDoc doc(BAXmlText::parseFile(definition));
    if (!doc) {
        std::fprintf(stderr, "bundle-digest: %s: not a readable bundle definition\n", definition.c_str());
        return 1;
    }
    const std::string::size_type slash = definition.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : definition.substr(0, slash);
    if (!setDigests(doc.get(), directory)) {
        std::fprintf(stderr, "bundle-digest: %s left unchanged\n", definition.c_str());
        return 1;
    }
    std::string text;
    if (!BAXmlText::serialiseDocument(doc.get(), text) ||
        VorkSupport::VorkAtomicFile::write(definition, text, false) != VorkSupport::VorkAtomicFile::Outcome::Written) {
        std::fprintf(stderr, "bundle-digest: %s: cannot be written\n", definition.c_str());
        return 1;
    }
    if (exists(definition + ".p7s"))
        std::fprintf(stderr, "bundle-digest: sign %s again: %s.p7s no longer matches it\n", definition.c_str(),
                     definition.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bundle-digest <bundle definition file>\n");
        return 2;
    }
    try {
        return run(argv[1]);
    } catch (const VorkSupport::VorkException& e) {
        std::fprintf(stderr, "bundle-digest: %s\n", e.getMessageNarrow().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bundle-digest: %s\n", e.what());
    }
    return 1;
}
