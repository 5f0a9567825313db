#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/runtime/ObserverList.h"
#include "quillet-dictate/backend/AuthErrorText.h"
#include "quillet-dictate/backend/AuthService.h"

namespace quillet::dictate {

// The account form of the HUD's settings view without the widgets: what the user typed, whether a
// sign-in or sign-up is in flight, the sentence shown under the form, and the texts of its mode.
// Owned through a shared pointer so that an answer arriving after the form closed finds nothing to
// update. Main thread only.
class AccountAuthCard : public std::enable_shared_from_this<AccountAuthCard> {
 public:
  // The password length the form asks for, in user-perceived characters.
  static constexpr std::size_t kMinimumPasswordCharacters = 8;

  static std::shared_ptr<AccountAuthCard> create(AuthService& auth);

  AccountAuthCard(const AccountAuthCard&) = delete;
  AccountAuthCard& operator=(const AccountAuthCard&) = delete;

  // `observer` hears of every change of the card's state, after it happened; a view re-reads what it shows.
  [[nodiscard]] Subscription observeChanges(std::function<void()> observer);

  [[nodiscard]] AuthMode mode() const { return mode_; }
  [[nodiscard]] const std::string& email() const { return email_; }
  [[nodiscard]] const std::string& password() const { return password_; }
  // A sign-in or sign-up is in flight.
  [[nodiscard]] bool working() const { return working_; }
  // The sentence under the form; empty shows nothing.
  [[nodiscard]] const std::string& errorMsg() const { return errorMsg_; }

  // As typed; neither is trimmed or checked here.
  void setEmail(std::string email);
  void setPassword(std::string password);

  // Nothing is in flight, the e-mail holds "@" and "." somewhere, and the password is long enough.
  [[nodiscard]] bool canSubmit() const;
  // Unless canSubmit(), does nothing. Otherwise signs in or up, per the mode, with the e-mail
  // trimmed of spaces and tabs and the password as typed; a failure ends in errorMsg.
  void submit();
  // Switches between signing in and signing up and clears errorMsg; what was typed stays.
  void toggleMode();

  [[nodiscard]] std::string_view title() const;
  [[nodiscard]] std::string_view submitLabel() const;
  [[nodiscard]] std::string_view togglePrompt() const;
  [[nodiscard]] std::string_view toggleAction() const;

 private:
  explicit AccountAuthCard(AuthService& auth);

  void finish(const Expected<void, VessioAuthError>& signedIn, AuthMode sentMode);

  AuthService& auth_;
  ObserverList<> changes_;
  // A new account first: the form's length rule is the sign-up rule, and signing in is one toggle away.
  AuthMode mode_ = AuthMode::signup;
  std::string email_;
  std::string password_;
  bool working_ = false;
  std::string errorMsg_;
};

}  // namespace quillet::dictate
