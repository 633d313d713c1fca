// UpdateFunctionBase: to be written
