// Messages in the user's language: GNU gettext, text domain "fasogram".  The
// English texts are the message ids; po/es.po holds the Spanish ones.
#pragma once

namespace fasogram {

// Takes the language of the messages from the environment (LC_ALL,
// LC_MESSAGES, LANG, LANGUAGE).  Only the messages category of the locale
// changes: numbers keep their decimal point.  The catalogues are read from
// $FASOGRAM_LOCALEDIR when set, else from the build tree for the program
// run from it, else from the installed ones.
void use_locale_messages();

// The directory the catalogues are read from.
const char* message_directory();

// While alive, every message is the Spanish one whatever the locale (the
// dialogue speaks Spanish); the previous choice comes back after it.
class SpanishMessages {
  public:
    SpanishMessages();
    ~SpanishMessages();
    SpanishMessages(const SpanishMessages&) = delete;
    SpanishMessages& operator=(const SpanishMessages&) = delete;

  private:
    bool previous_;
};

// The message `msgid` in the chosen language (msgid itself without a
// translation).
const char* translate(const char* msgid);

} // namespace fasogram

// Marks a message for translation (xgettext --keyword=_).
#define _(msgid) ::fasogram::translate(msgid)
