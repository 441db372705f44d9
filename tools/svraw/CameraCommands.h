#pragma once
// svraw's camera commands: list the cameras, record from one, generate a synthetic recording.
// Each takes the arguments after its own name and returns the process exit code.
#include <string>
#include <vector>

int svrawCameras(const std::vector<std::string>& args);
int svrawRecord(const std::vector<std::string>& args);
int svrawGenerate(const std::vector<std::string>& args);
