// replaced by the support library's sources
