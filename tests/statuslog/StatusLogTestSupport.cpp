#include "StatusLogTestSupport.h"

#include <cctype>

#include "TestEnvironment.h"

namespace statuslogtest {

LogCapture::LogCapture() : m_fileName(plimotest::testDir() + "/debug.log"), m_log(m_fileName, 1, 9) {
    VorkSupport::VorkLogging::setInstance(&m_log);
}

LogCapture::~LogCapture() { VorkSupport::VorkLogging::setInstance(nullptr); }

std::string LogCapture::text() const { return plimotest::readFile(m_fileName); }

std::string maskDate(const std::string& text) {
    // The value has the form 9999-99-99T99:99:99Z; the text is copied with
    // each such value replaced.
    const std::string pattern = "dddd-dd-ddTdd:dd:ddZ";
    const std::string key = "dateTime=\"";
    std::string result;
    std::string::size_type copied = 0;
    for (std::string::size_type at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const std::string::size_type start = at + key.size();
        if (text.size() < start + pattern.size() + 1 || text[start + pattern.size()] != '"') continue;
        bool matches = true;
        for (std::string::size_type i = 0; i < pattern.size(); ++i) {
            const char c = text[start + i];
            matches =
                matches && (pattern[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == pattern[i]);
        }
        if (!matches) continue;
        result.append(text, copied, start - copied);
        result += 'D';
        copied = start + pattern.size();
    }
    result.append(text, copied, std::string::npos);
    return result;
}

} // namespace statuslogtest
