/* The i686 stub's and uninstaller's linker script, in place of the linker's
   own: three sections instead of six, since each rounds up to 512 bytes in
   the file, and three section headers fit in the file's first 512 bytes.
   - .text: code and read-only data, both read-only (a common merge);
   - .rsrc: the resources, then the import tables, the initialised
     variables and last the zeroed ones (.bss), all written or writable
     (the loader fills the import address table); the resource directory
     is found at the section's start, the import directory by the symbols
     below. The linker writes the zeroed variables out as zeros; the build
     drops them from the file again (kestrel-stamp), as the loader fills a
     section beyond its data in the file with zeros;
   - .reloc as ever; the relocations keep the image movable.
   The import lookup tables go: the loader reads the names from the import
   address table where a library's lookup table is left out (the address
   table is not bound beforehand), as it does for older linkers' programs;
   so do the words by which each import draws its library's head object
   into the link.
   Unwind tables go: nothing in these programs throws. Any other section an
   object brings stops the link (--orphan-handling=error), so that nothing
   is placed by guesswork. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    /* The constructors of static objects, which base/startup.cpp runs. */
    ___CTOR_LIST__ = .;
    __CTOR_LIST__ = .;
    LONG (-1);
    KEEP (*(.ctors));
    KEEP (*(.ctor));
    KEEP (*(SORT_BY_NAME(.ctors.*)));
    LONG (0);
    ___DTOR_LIST__ = .;
    __DTOR_LIST__ = .;
    LONG (-1);
    KEEP (*(.dtors));
    KEEP (*(.dtor));
    KEEP (*(SORT_BY_NAME(.dtors.*)));
    LONG (0);
    *(.rdata)
    *(SORT(.rdata$*))
  }
  .rsrc BLOCK(__section_alignment__) :
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
    . = ALIGN(4);
    /* The linker finds the import directory (from .idata$2 to .idata$4)
       and the import address table (.idata$5 to .idata$6) by these
       symbols, relative to the image base, as the section has another
       name; the parts come in this order, the lookup tables (.idata$4)
       discarded below. */
    ".idata$2" = . - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* These zeroes mark the end of the import list. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = . - __image_base__;
    __IAT_start__ = .;
    ".idata$5" = . - __image_base__;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = . - __image_base__;
    KEEP (SORT(*)(.idata$6))
    /* The libraries' names, from each import library's tail object. The
       word that each routine's own object (NAMEs00123.o) holds there
       only draws the library's head object into the link, which is done
       by now: those words are discarded below, four bytes per import. */
    KEEP (SORT(*)(EXCLUDE_FILE (*s[0-9][0-9][0-9][0-9][0-9].o) .idata$7))
    . = ALIGN(4);
    __data_start__ = .;
    *(.data)
    *(.data2)
    *(SORT(.data$*))
    __data_end__ = .;
    __bss_start__ = .;
    *(.bss)
    *(COMMON)
    __bss_end__ = .;
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /DISCARD/ :
  {
    *(.idata$4)
    *(.idata$7)
    *(.eh_frame)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    /* The programs are stripped: the debugging information that objects
       of the system's libraries carry goes. */
    *(.debug_*)
  }
}
