// known_answer.h - the built-in password and its traditional DES crypt
// string, used to find out whether the host's crypt() does DES.
#ifndef DRIVER_KNOWN_ANSWER_H
#define DRIVER_KNOWN_ANSWER_H

namespace credcheck {

// crypt("pancakes", "kv"), salt "kv".
inline constexpr char kKnownPassword[] = "pancakes";
inline constexpr char kKnownCrypt[] = "kvKPc33T3JzmE";

}  // namespace credcheck

#endif  // DRIVER_KNOWN_ANSWER_H
