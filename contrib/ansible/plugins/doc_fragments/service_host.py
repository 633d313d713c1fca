# -*- coding: utf-8 -*-
# Copyright: contributors to plimo
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    """The option that names the service host, shared by every module of the collection."""

    DOCUMENTATION = r"""
options:
  service_host:
    description:
      - Path of the service host program on the host.
      - Default is the C(zuasvchost) found on C(PATH), else C(/usr/bin/zuasvchost).
    type: path
    aliases: [zuasvchost]
notes:
  - Supports check mode.
author:
  - plimo contributors
"""
