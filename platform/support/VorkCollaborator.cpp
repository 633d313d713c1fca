#include "VorkCollaborator.h"

namespace VorkSupport {

void VorkCollaborator::notify(int /*event*/, void* /*data*/) {}

} // namespace VorkSupport
