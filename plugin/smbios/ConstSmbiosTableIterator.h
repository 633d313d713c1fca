#pragma once
#include <cstddef>
#include <iterator>

#include "ISmbiosItem.h"
#include "SmbiosTableIterator.h"
#include "SmbiosTableIteratorBase.h"

namespace smbios {

class ConstSmbiosTableIterator : public SmbiosTableIteratorBase {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = const ISmbiosItem;
    using difference_type = std::ptrdiff_t;
    using pointer = const ISmbiosItem*;
    using reference = const ISmbiosItem&;

    using SmbiosTableIteratorBase::SmbiosTableIteratorBase;
    ConstSmbiosTableIterator(const SmbiosTableIterator& other) : SmbiosTableIteratorBase(other) {}

    reference operator*() const { return dereference(); }
    pointer operator->() const { return &dereference(); }
    ConstSmbiosTableIterator& operator++() {
        increment();
        return *this;
    }
    ConstSmbiosTableIterator operator++(int) {
        ConstSmbiosTableIterator old = *this;
        increment();
        return old;
    }
};

} // namespace smbios
