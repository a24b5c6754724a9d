// The sign-up page that the plug-in opens in the browser:
// "/registration.jsp?action=Navigation&param=0" shows the form, a POST of it
// creates the account.
#pragma once

#include <string>

#include "service/handler.h"
#include "service/query.h"

namespace service {

inline constexpr const char* kSignupPath = "/registration.jsp";

// The form, with the reason of a refused attempt (empty for none) and the
// name typed before.
HttpResponse signupForm(const std::string& reason, const std::string& name);

// Handles the posted form fields "user", "pass" and "pass2".
HttpResponse signup(ServiceContext& context, const Params& fields);

// Why a new account with these fields cannot be made, or the empty text.
// The engine writes names and passwords into its query unescaped: "&"
// would split them and control characters cannot be typed, so both are
// refused. Non-ASCII bytes are refused as well: the form sends UTF-8 while
// the engine sends its 8-bit code page, so such an account could never
// synchronise.
std::string newAccountProblem(const std::string& name, const std::string& password,
                              const std::string& again);

std::string htmlEscape(const std::string& text);

}  // namespace service
