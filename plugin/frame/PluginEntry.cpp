// the exported entry points
