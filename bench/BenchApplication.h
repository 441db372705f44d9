#pragma once

#include <vector>

class QCoreApplication;

// The one Qt application of the benchmark run (widgets offscreen), made on first use. It lives
// for the rest of the run, and settings stay in the test-mode folder, away from the user's own.
QCoreApplication& benchApplication();

// The value below which fraction (0 to 1) of values lie; 0 for no values.
double percentile(std::vector<double> values, double fraction);
