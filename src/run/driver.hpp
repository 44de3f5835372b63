#pragma once

#include "state/run_state.hpp"

namespace p2k {

// The closing report: header values and the first and last node of each axis.
void closing_report(run_state& s);

// One conversion: the phases in their fixed order, then the closing report. Console output goes
// to `s.console`; failure reports and stop messages to `error_fd`. Returns the exit status:
// 0 after a normal end, 1 after a stop, the message number after a failure report.
int run_conversion(run_state& s, int error_fd);

}  // namespace p2k
