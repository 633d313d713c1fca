// replaced by the frame's sources
