#pragma once
#include <string>

#include "VorkObjectBase.h"
#include "VorkProperties.h"

namespace DataAccess {
namespace zua {

// The interface of every plug-in function. A fresh instance serves exactly
// one call; execute() returns the answer text.
template <typename S>
class FunctionDispatch : public VorkSupport::VorkObjectBase {
public:
    ~FunctionDispatch() override = default;
    virtual S execute(const VorkSupport::VorkProperties<S>& properties) = 0;
};

} // namespace zua
} // namespace DataAccess
