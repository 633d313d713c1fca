// placeholder until the module has sources
