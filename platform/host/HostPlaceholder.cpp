// replaced by the host's sources
