// The wizard's eight pages with their templates, text lists and procedures.
#pragma once
#include "ui/sequencer.h"

extern const WizardPage PageTable[kPageCount];
