#pragma once
#include <cstddef>
#include <iterator>

#include "ISmbiosItem.h"
#include "SmbiosTableIteratorBase.h"

namespace smbios {

class SmbiosTableIterator : public SmbiosTableIteratorBase {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ISmbiosItem;
    using difference_type = std::ptrdiff_t;
    using pointer = ISmbiosItem*;
    using reference = ISmbiosItem&;

    using SmbiosTableIteratorBase::SmbiosTableIteratorBase;

    reference operator*() const { return dereference(); }
    pointer operator->() const { return &dereference(); }
    SmbiosTableIterator& operator++() {
        increment();
        return *this;
    }
    SmbiosTableIterator operator++(int) {
        SmbiosTableIterator old = *this;
        increment();
        return old;
    }
};

} // namespace smbios
