// BundleApplicatorBase: to be written
