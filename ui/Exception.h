// The toolkit's base exception class. Start-up catches it around the creation of the windows and
// the message loop and reports it with TApplication::ShowException; a window procedure catches
// it too, so that no exception ever crosses into Windows.
#ifndef M770B_UI_EXCEPTION_H
#define M770B_UI_EXCEPTION_H

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string &message) : std::runtime_error(message) {}
};

#endif
