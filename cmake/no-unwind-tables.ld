/* Added to the linker's own script (-T with INSERT): drops all unwind
   tables. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) }
}
INSERT BEFORE .text;
