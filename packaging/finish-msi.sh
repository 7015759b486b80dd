#!/usr/bin/env bash
# finish-msi.sh MSI VERSION
#
# Sets in a package that wixl built what wixl cannot express (checked with
# wixl 0.101): its sequencing of custom actions ignores "After" and would also
# move the removal of an older version behind the new files; it knows no
# HideTarget flag, no same-version upgrades, no way to add secure
# properties and no expandable registry value.
set -euo pipefail
msi=${1:?package}
version=${2:?package version}
upgrade_code=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^UpgradeCode\t//p')

query() { msibuild "$msi" -q "$1"; }

# The older version goes first, before anything of the new one is installed
# (a major upgrade that runs the old uninstall as a whole).
query "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1401 WHERE \`Action\` = 'RemoveExistingProducts'"
# A rebuilt package of the same version replaces the installed one too
# (msidbUpgradeAttributesVersionMaxInclusive on the upgrade row).
query "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
query "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', 513, 'WIX_UPGRADE_DETECTED')"
# After the settings key's default value is written and before the service is
# installed and started, so the service's first pass sees the values.
query "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 5100 WHERE \`Action\` = 'ProvisionSettings'"
# Between installing the service and starting it.
query "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 5810 WHERE \`Action\` = 'ApplyRecovery'"
# Before the installer's own stop of the service.
query "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1890 WHERE \`Action\` = 'StopBeforeRemoval'"
# After the service is deleted, while the settings key's default value (which
# tells the command where the client pair lies) is still there.
query "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 2010 WHERE \`Action\` = 'ForgetSettings'"
# The provisioning command line carries the password: never in the log
# (msidbCustomActionTypeHideTarget).
query "UPDATE \`CustomAction\` SET \`Type\` = 11282 WHERE \`Action\` = 'ProvisionSettings'"
# Public properties that reach the elevated part of the installation.
query "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;USER_LOGIN;PASSWORD_LOGIN;UPDATE_SERVER;CONFIG_DIR;LOG_DIR;V_SW;V_CMD;FIRST_TIME;TM_STATUS;CLIENT_CERT;CLIENT_KEY;SERVER_CA;PUBLISHER_CERT;FORGET_SETTINGS;INSTALLDIR' WHERE \`Property\` = 'SecureCustomProperties'"
# The event source's message file is REG_EXPAND_SZ ("#%"): wixl writes every
# text value as a plain string.
query "UPDATE \`Registry\` SET \`Value\` = '#%[INSTALLDIR]KVLService.exe' WHERE \`Component_\` = 'EventSource' AND \`Name\` = 'EventMessageFile'"
