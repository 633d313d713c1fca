#pragma once
#include <string>

// The plug-in's two fixed answers, byte for byte.
namespace frametest {

inline const std::string capabilitiesText = "<Capabilities>\n"
                                            "\t<force/>\n"
                                            "\t<ignore/>\n"
                                            "\t<reboot/>\n"
                                            "\t<resume/>\n"
                                            "\t<installparams/>\n"
                                            "\t<continueonfailure/>\n"
                                            "</Capabilities>\n";

// With the seven registrations of the plug-in.
inline const std::string functionsText = "\n<Functions>\n"
                                         "\t<Function name='capabilities' />\n"
                                         "\t<Function name='clean' />\n"
                                         "\t<Function name='progress' />\n"
                                         "\t<Function name='resume' />\n"
                                         "\t<Function name='update' />\n"
                                         "\t<Function name='validate' />\n"
                                         "</Functions>\n";

} // namespace frametest
