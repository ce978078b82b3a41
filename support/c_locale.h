#ifndef TICKORA_SUPPORT_C_LOCALE_H_
#define TICKORA_SUPPORT_C_LOCALE_H_

#include <locale.h>

// Numbers that the system writes or reads for a machine (statements, cells,
// the settings file, the usage post, file and page names) always use the
// decimal point, whatever locale the process runs under: the wizard's
// window toolkit takes the user's locale from the environment, and under
// de_DE.UTF-8, say, printf would write 2.5 as "2,5".
//
// CCLocaleScope switches the calling thread to the "C" locale for its
// lifetime and back to the thread's previous locale when it goes. Other
// threads and the process-wide locale are not touched. Create it on the
// stack around printf- or strtod-style calls; it is neither copied nor
// moved.
class CCLocaleScope {
 public:
  CCLocaleScope();
  ~CCLocaleScope();
  CCLocaleScope(const CCLocaleScope&) = delete;
  CCLocaleScope& operator=(const CCLocaleScope&) = delete;

 private:
  locale_t previous_;  // (locale_t)0 when the switch did not happen
};

// The "C" locale object, made once and kept for the life of the process;
// (locale_t)0 only when the system cannot make it.
locale_t CLocale();

#endif  // TICKORA_SUPPORT_C_LOCALE_H_
