// The wizard's eight pages with their templates, text lists and procedures.
#pragma once
#include "app/sequencer.h"

extern const WizardPage PageTable[kPageCount];
