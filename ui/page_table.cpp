#include "ui/page_table.h"

#include "ui/pages.h"

const WizardPage PageTable[kPageCount] = {
    {5, 0, welcome_page_proc},     {3, 1, licence_page_proc}, {9, 9, setup_type_page_proc},
    {2, 2, destination_page_proc}, {5, 3, ready_page_proc},   {4, 4, progress_page_proc},
    {6, 5, finish_page_proc},      {11, 0, closing_page_proc},
};
