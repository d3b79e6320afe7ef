// A setup's run of this product that was ended by force before it had
// finished (record/ended_run.h), settled before the removal, so that the
// removal starts from an installation that stands and no backup of the
// ended run is left to be put back later over a removed product.
#pragma once

#include "record/removal_plan.h"

// For each installation of the plan, the ended run of its product, if
// any: when that run wrote the record of the installed uninstaller
// (`installed`), the record covers the run, which is then completed (its
// backups go) and removed with the rest; otherwise the run is taken back
// first, and this uninstaller's record is as true as before it. Logged as
// the setup logs it ("interrupted", "rollback").
void settle_ended_setups(const RemovalPlan& plan, const char* installed);
