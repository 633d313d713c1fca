// ResumeFunctionService: to be written
