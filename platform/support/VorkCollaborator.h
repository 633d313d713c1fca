#pragma once

namespace VorkSupport {

// A party that can be told about an event by another (for example a worker
// thread telling its owner that it finished). The default does nothing.
class VorkCollaborator {
public:
    virtual ~VorkCollaborator() = default;
    virtual void notify(int event, void* data);
};

} // namespace VorkSupport
