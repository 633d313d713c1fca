// ResumeFunctionDispatchThread: to be written
