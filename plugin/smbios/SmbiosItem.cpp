#include "SmbiosItem.h"

#include <cstring>

#include "DataOutOfBounds.h"
#include "ParseException.h"
#include "StringUnavailable.h"

namespace smbios {

namespace {
constexpr std::size_t headerSize = 4;
}

SmbiosItem::SmbiosItem(const std::uint8_t* data, std::size_t size, std::size_t position)
    : m_data(data, data + size), m_nSize(size), m_nPosition(position) {
    // A header is always there to read, and every string ends inside m_data.
    if (m_data.size() < headerSize) m_data.resize(headerSize, 0);
    m_data.push_back(0);
    m_data.push_back(0);
}

std::uint8_t SmbiosItem::getType() const { return m_data[0]; }

std::uint8_t SmbiosItem::getLength() const { return m_data[1]; }

std::uint16_t SmbiosItem::getHandle() const { return static_cast<std::uint16_t>(m_data[2] | (m_data[3] << 8)); }

const char* SmbiosItem::stringByNumber(std::uint8_t n) const {
    if (n == 0) throw StringUnavailable("String does not exist.");
    std::size_t pos = getLength();
    if (pos > m_nSize) pos = m_nSize; // never the case for a table's items; keeps a bad copy safe
    for (unsigned step = 1; step < n; ++step) {
        // Past the current string and its NUL, never beyond the copy.
        while (pos < m_nSize && m_data[pos] != 0) ++pos;
        ++pos;
        if (pos >= m_nSize) {
            ParseException error("Overflow while getting byte data at location: cur_loc >= base_loc + header_size\n"
                                 " cur_loc : %(cur_loc)i\n base_loc : %(base_loc)i\n header_size : %(header_size)i ");
            error.setParameter("cur_loc", static_cast<std::int64_t>(m_nPosition + pos))
                .setParameter("base_loc", static_cast<std::int64_t>(m_nPosition))
                .setParameter("header_size", static_cast<std::int64_t>(m_nSize));
            throw error;
        }
        if (m_data[pos] == 0) throw StringUnavailable("The string does not exist. Bad index caused this error");
    }
    return reinterpret_cast<const char*>(m_data.data() + pos);
}

void SmbiosItem::readData(std::size_t offset, void* buffer, std::size_t size) const {
    std::size_t length = getLength();
    if (length > m_nSize) length = m_nSize;
    if (offset > length || size > length - offset) {
        DataOutOfBounds error(
            "Attempt to access data outside the length of header. offset : %(offset)i, header_length : "
            "%(header_length)i");
        error.setParameter("offset", static_cast<std::int64_t>(offset))
            .setParameter("header_length", static_cast<std::int64_t>(getLength()));
        throw error;
    }
    if (size != 0) std::memcpy(buffer, m_data.data() + offset, size);
}

const std::uint8_t* SmbiosItem::getBuffer() const { return m_data.data(); }

std::size_t SmbiosItem::getBufferSize() const { return m_nSize; }

} // namespace smbios
